// The class of the manufacturer's ACPI interface library, VQMITF, as this
// library uses it: the four members below and nothing else. hwtk3 imports
// them at load time; the virtual notebook builds a stand-in that exports
// them. The object's storage is 4 bytes as we allocate it, so nothing here
// may add data members.
#ifndef HWTK3_ACPI_VQMITF_H
#define HWTK3_ACPI_VQMITF_H

#if defined(_WIN32)
#  if defined(HWTK3_BUILDING_VQMITF)
#    define HWTK3_VQMITF_API __declspec(dllexport)
#  else
#    define HWTK3_VQMITF_API __declspec(dllimport)
#  endif
#else
#  define HWTK3_VQMITF_API __attribute__((visibility("default")))
#endif

class HWTK3_VQMITF_API CVQMITF {
public:
    CVQMITF();
    // Another library's destructor may throw. Declared so, the exception
    // reaches our call, where it is caught; a destructor left implicitly
    // noexcept would end the host process instead. (Exception specifications
    // are not part of the member's decorated name.)
    ~CVQMITF() noexcept(false);
    // Evaluates `method` without argument; nonzero on success, with the
    // method's value in *value.
    int InvokeMethod(unsigned long method, unsigned long* value);
    // Evaluates `method` with one integer argument; nonzero on success.
    int InvokeMethod(unsigned long method, unsigned long argument, unsigned long* value);
};

#endif  // HWTK3_ACPI_VQMITF_H
