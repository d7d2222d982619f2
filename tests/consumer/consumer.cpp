// A consumer of an installed hwtk3: includes <hwtk3.h>, links libhwtk3.so
// and calls into it. On Linux the installed libVQMITF.so has no ACPI
// interface, so the interface-object export fails (-1) and leaves its
// output alone; the machine type is 0 before any machine check; the
// identity copies write an empty text before the record is filled.
#include <hwtk3.h>

#include <cstdio>
#include <cstring>

int main() {
    int failed = 0;
    bool present = true;
    if (Diag_AcpiNBQueryBTDevice(present) != -1 || !present) {
        std::puts("FAILED: Diag_AcpiNBQueryBTDevice through the installed libVQMITF.so");
        ++failed;
    }
    if (Diag_GetMachineType() != 0) {
        std::puts("FAILED: Diag_GetMachineType before a check");
        ++failed;
    }
    char text[16];
    std::memset(text, 'x', sizeof text);
    Diag_GetManufacturer(text, sizeof text);
    if (text[0] != '\0') {
        std::puts("FAILED: Diag_GetManufacturer before the record is filled");
        ++failed;
    }
    std::printf("consumer: %s\n", failed == 0 ? "ok" : "FAILED");
    return failed == 0 ? 0 : 1;
}
