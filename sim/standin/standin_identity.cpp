// The identity entry point of the stand-in DLLs (standin_identity.h).
#include "sim/scenario.h"
#include "sim/standin/standin_identity.h"

extern "C" __declspec(dllexport) const char* Hwtk3VirtualNotebook(void) {
    return hwtk3::sim::StandinScenario().c_str();
}
