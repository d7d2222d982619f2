// The factory test report: one entry per step with its result, its
// measured values and how long it took; rendered as readable lines beside
// the library's own output, and as JSON for the test station's records.
#ifndef HWTK3_TOOLS_DIAG_REPORT_H
#define HWTK3_TOOLS_DIAG_REPORT_H

#include <string>
#include <utility>
#include <vector>

namespace hwtk3::diag {

// A measured value: text, or a number kept as its JSON text.
struct Value {
    std::string key;
    std::string text;
    bool isNumber;
};

// One thing looked at to explain a failed step: an id and a one-word state
// for the records, and a plain sentence with what to do.
struct Finding {
    std::string id;
    std::string state;
    std::string text;
};

struct StepResult {
    std::string id;     // short name used by --steps / --skip and in JSON
    std::string title;  // what the report line says
    bool passed = false;
    bool skipped = false;  // not run; `detail` says why
    double seconds = 0.0;
    std::string detail;  // one readable line of what was measured
    std::vector<Value> values;
    std::vector<Finding> diagnosis;  // why it failed, as far as the tool can tell

    void Add(const std::string& key, const std::string& text) { values.push_back({key, text, false}); }
    void Add(const std::string& key, long long number) { values.push_back({key, std::to_string(number), true}); }
    void Add(const std::string& key, double number);
    void Add(const std::string& key, bool flag) { values.push_back({key, flag ? "true" : "false", true}); }
    void Add(const std::string& key, const char* text) { Add(key, std::string(text)); }
    void Add(const std::string& key, int number) { Add(key, static_cast<long long>(number)); }
    void Add(const std::string& key, unsigned number) { Add(key, static_cast<long long>(number)); }
};

struct Report {
    std::string machine;   // "virtual notebook" or "this machine"
    std::string scenario;  // virtual notebook set-up, empty otherwise
    std::vector<StepResult> steps;
    double seconds = 0.0;
    // Pauses the library made, where the tool can see them (-1: unknown).
    double pauseSeconds = -1.0;
    // How the machine's channels were reached (the machine itself only).
    std::vector<Value> channels;

    int Failed() const;
    int Skipped() const;
    int Passed() const { return static_cast<int>(steps.size()) - Failed() - Skipped(); }
};

// Lines of the readable report all start with this, so they stand out
// from the library's own lines.
inline constexpr const char kReportPrefix[] = ">> ";

std::string StepLine(const StepResult& step);
// The step's findings, one line each, to follow its line.
std::string DiagnosisLines(const StepResult& step);
std::string SummaryLine(const Report& report);
// Lines saying which way each EC channel went; empty on the virtual notebook.
std::string ChannelLines(const Report& report);
// 0 all passed, 1 one failed, 3 none failed but some were skipped.
int ExitStatus(const Report& report);
// The whole report as one line of JSON.
std::string ToJson(const Report& report);

}  // namespace hwtk3::diag

#endif  // HWTK3_TOOLS_DIAG_REPORT_H
