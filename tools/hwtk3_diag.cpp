// hwtk3-diag: the factory test sequence through hwtk3, with a report a
// test engineer can read beside the library's own lines, and the same
// report as JSON for the test station's records.
#include <cstdio>
#include <string>

#include "hwtk3_version.h"
#include "tools/diag_machine.h"
#include "tools/diag_options.h"
#include "tools/diag_report.h"
#include "tools/diag_sequence.h"

int main(int argc, char** argv) {
    using namespace hwtk3::diag;
    // The library's lines, our report and the progress lines on standard
    // error must come out in the order they happen, also into a pipe.
#if defined(_WIN32)
    std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
    Options options;
    bool help = false;
    std::string error;
#if !defined(_WIN32)
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--list-scenarios") {
            const std::string list = ScenarioList();
            std::fputs(list.empty() ? "this build runs on the machine itself\n" : list.c_str(), stdout);
            return 0;
        }
    }
#endif
    if (!ParseOptions(argc, argv, options, help, error)) {
        std::fprintf(stderr, "hwtk3-diag: %s\n%s", error.c_str(), UsageText());
        return 2;
    }
    if (help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("hwtk3-diag %s\n", HWTK3_VERSION);
        return 0;
    }
    if (!PrepareMachine(options, error)) {
        std::fprintf(stderr, "hwtk3-diag: %s\n", error.c_str());
        return 2;
    }
    const bool virtualNotebook = MachineName() == "virtual notebook";
    std::printf("%shwtk3-diag on %s%s\n", kReportPrefix, virtualNotebook ? "the virtual notebook" : "this machine",
                virtualNotebook ? (" (scenario " + MachineScenario(options) + ")").c_str()
                                : (options.ec ? " (EC steps asked for)" : ""));

    const Report report = RunSequence(options, stdout);
    std::fputs(ChannelLines(report).c_str(), stdout);
    std::printf("%s\n", SummaryLine(report).c_str());
    const std::string json = ToJson(report);
    if (!options.jsonFile.empty()) {
        std::FILE* file = std::fopen(options.jsonFile.c_str(), "w");
        if (file == nullptr || std::fprintf(file, "%s\n", json.c_str()) < 0 || std::fclose(file) != 0) {
            std::fprintf(stderr, "hwtk3-diag: cannot write %s\n", options.jsonFile.c_str());
            return 2;
        }
    }
    if (options.json) std::printf("%s\n", json.c_str());
    return ExitStatus(report);
}
