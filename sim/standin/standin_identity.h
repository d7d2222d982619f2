// How a stand-in library says that it is the virtual notebook: an entry
// point of its own, which the real WinRing0.dll and VQMITF.dll do not have
// and hwtk3.dll never calls. hwtk3-diag asks for it, so that a run on the
// stand-ins is never taken for a run on a real notebook.
#ifndef HWTK3_SIM_STANDIN_STANDIN_IDENTITY_H
#define HWTK3_SIM_STANDIN_STANDIN_IDENTITY_H

namespace hwtk3::sim {

// Exported under this plain name, caller-cleans, by both stand-in DLLs.
inline constexpr const char kIdentityEntryPoint[] = "Hwtk3VirtualNotebook";

// It answers with the scenario the notebook was set up with
// (HWTK3_SIM_SCENARIO, "default" when unset), a text that lives as long as
// the library.
using IdentityFunction = const char* (*)();

}  // namespace hwtk3::sim

#endif  // HWTK3_SIM_STANDIN_STANDIN_IDENTITY_H
