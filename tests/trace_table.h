// The published sequences as data. A row names a set-up of the virtual
// notebook, one export call, and everything that call must do, in order:
// port accesses with their values, pauses, physical-memory reads, calls
// into the notebook's drivers and services, the library's lines, and at
// the end the result and the outputs.
//
// A trace is written as items separated by ';' or line ends:
//   in 6c 01            port read (hexadecimal port and byte)
//   out 6c 2d           port write
//   sleep 10            pause, ms
//   phys f0000 65535    physical-memory read (address, count); a read
//                       that copies less says so: phys f0000 65535 -> 0
//   "tacho: 160"        a line the library printed, without its newline
//   {in 66 00; sleep 1}*500   the items in braces, repeated
//   @bind               a fragment of a table's own (Fragment), with its
//   @read-ec62 d2 00    arguments in place of $1, $2, ...
//   = 1, rpm 3000       the result and the outputs (last, once)
// Any other item is a call the notebook saw, as it notes it, for example
// InitializeOls -> 1, open \\.\ZORDACPI, ZORDACPI PBLS(0xff) -> 0x1,
// InvokeMethod HWRS -> 1, 0x180, battery 1 query tag -> 1.
//
// Outputs the call must not write are handed in holding a sentinel and
// read "untouched" while they hold it; buffers are shown byte for byte up
// to one byte past the size given, which stays '~' (runs of NUL as \0*N,
// of '~' as ~*N). The size of the firmware table service's answer at the
// time of the call reads $rsmb. The ACPI interface exports add "object
// still held" (and "objects alive N") when an object outlived the call.
#ifndef HWTK3_TESTS_TRACE_TABLE_H
#define HWTK3_TESTS_TRACE_TABLE_H

#include <string>
#include <vector>

#include "sim/notebook.h"

namespace hwtk3::test::traces {

struct Row {
    const char* what;   // the case, in a reviewer's words
    const char* setup;  // set-up words (below), applied in order
    const char* call;   // the export without "Diag_", then its arguments
    const char* trace;  // what the call does, as above
};

// A named piece of trace, used as @name.
struct Fragment {
    const char* name;
    const char* trace;
};

// Set-up words besides the notebook's scenario names: "bound" (port I/O
// bound), "checked" (Diag_CheckMachine(false) ran), "fw" (the EC firmware
// text was read), "released" (Diag_FreeHWIO ran), "init" (Diag_InitHWIO
// ran, whatever it returned), "filled" (Diag_FillDMIData(false) ran),
// "type=N" (machine type N without a check), "no-winring0"
// (the port-I/O library cannot be loaded), "partial-winring0" (one without
// ReadPhysicalMemory), "winring0-without=NAME" (one without the entry point
// NAME), "no-kernel32", "no-firmware-memory" (the answer
// buffer cannot be allocated), and the named set-ups a table brings along.
//
// These strike at the call itself, not the set-up's own EC traffic: EC
// faults at the K-th EC port access of the call, counted from 0,
// "silent-from=K" (no byte taken), "unanswered-from=K" (no answer handed
// out), "floating-from=K" (0xFF on every channel port), "drop-at=K" (the
// answer access K waits for or takes is lost), "late-at=K" or
// "late-at=K:MS" (it comes, or the byte written at K is taken, 501 or MS ms
// late), two of them at once; "latency=MS" and "answer-latency=MS" (every
// byte, or every answer, that late); "mutex-held" and "mutex-abandoned"
// (another program holds Global\Access_EC for longer than we wait, or
// ended holding it); and "released-in-pause=MS" (another host thread calls
// Diag_FreeHWIO during the call's first pause of MS ms). "station-mutex"
// gives the library the notebook's stand-in for Global\Access_EC at once
// (every call to it is traced), "mutex-fails" one it cannot create,
// "mutex-fails-once" one it can create at the second try.
struct Setup {
    const char* word;
    void (*apply)(sim::Notebook& notebook);
};

// The items of an expected trace; false with `error` on a syntax slip.
bool ParseTrace(const std::string& text, const std::vector<Fragment>& fragments, std::vector<std::string>& items,
                std::string& error);

// Runs one row on a fresh library and notebook and returns the items it
// produced; false with `error` for an unknown word or call.
bool RunRow(const Row& row, const std::vector<Setup>& setups, std::vector<std::string>& items,
            std::string& error);

// The two item lists side by side, from the first difference on, for a
// failure message.
std::string Difference(const std::vector<std::string>& expected, const std::vector<std::string>& actual);

}  // namespace hwtk3::test::traces

#endif  // HWTK3_TESTS_TRACE_TABLE_H
