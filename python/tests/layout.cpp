// Prints the size of each host-visible record the Python binding declares,
// and each field's offset and size, as this compiler lays them out from
// include/hwtk3.h: "record NAME SIZE", then "field NAME OFFSET SIZE".
#include <cstddef>
#include <cstdio>

#include "include/hwtk3.h"

#define HWTK3_PRINT_RECORD(type) std::printf("record %s %zu\n", #type, sizeof(type))
#define HWTK3_PRINT_FIELD(type, field) \
    std::printf("field %s %zu %zu\n", #field, offsetof(type, field), sizeof(type::field))

int main() {
    HWTK3_PRINT_RECORD(tFanState);
    HWTK3_PRINT_FIELD(tFanState, manual);
    HWTK3_PRINT_FIELD(tFanState, speed);
    HWTK3_PRINT_FIELD(tFanState, rpm);
    HWTK3_PRINT_RECORD(tDiagWifiBTPowerState);
    HWTK3_PRINT_FIELD(tDiagWifiBTPowerState, bWifi);
    HWTK3_PRINT_FIELD(tDiagWifiBTPowerState, bBT);
    HWTK3_PRINT_FIELD(tDiagWifiBTPowerState, bCam);
    return 0;
}
