// hwtk3-diag's factory sequence and its report, on each virtual-notebook
// scenario: which steps pass, what they measured, the JSON a test station
// records, and the program's exit status.
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hwtk3_version.h"
#include "sim/scenario.h"
#include "tests/support.h"
#include "tools/diag_machine.h"
#include "tools/diag_report.h"
#include "tools/diag_sequence.h"

namespace hwtk3::test {
namespace {

using diag::Options;
using diag::Report;

// A small JSON syntax check: the report must parse as one object.
class JsonChecker {
public:
    explicit JsonChecker(const std::string& text) : s_(text) {}
    bool Valid() {
        Space();
        if (!Value()) return false;
        Space();
        return i_ == s_.size();
    }

private:
    void Space() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (s_.compare(i_, w.size(), w) != 0) return false;
        i_ += w.size();
        return true;
    }
    bool String() {
        if (s_[i_] != '"') return false;
        for (++i_; i_ < s_.size(); ++i_) {
            if (s_[i_] == '\\') {
                ++i_;
            } else if (s_[i_] == '"') {
                ++i_;
                return true;
            } else if (static_cast<unsigned char>(s_[i_]) < 0x20) {
                return false;
            }
        }
        return false;
    }
    bool Number() {
        const std::size_t start = i_;
        if (s_[i_] == '-') ++i_;
        while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.')) ++i_;
        return i_ > start;
    }
    bool Value() {
        if (i_ >= s_.size()) return false;
        switch (s_[i_]) {
            case '{': return Container('}', true);
            case '[': return Container(']', false);
            case '"': return String();
            case 't': return Literal("true");
            case 'f': return Literal("false");
            case 'n': return Literal("null");
            default: return Number();
        }
    }
    bool Container(char close, bool object) {
        ++i_;
        Space();
        if (i_ < s_.size() && s_[i_] == close) return ++i_, true;
        while (true) {
            Space();
            if (object) {
                if (!String()) return false;
                Space();
                if (i_ >= s_.size() || s_[i_++] != ':') return false;
                Space();
            }
            if (!Value()) return false;
            Space();
            if (i_ >= s_.size()) return false;
            if (s_[i_] == close) return ++i_, true;
            if (s_[i_++] != ',') return false;
        }
    }
    const std::string& s_;
    std::size_t i_ = 0;
};

class DiagTest : public NotebookTest {
protected:
    Report Run(const std::string& scenario, Options options = {}) {
        options.scenario = scenario;
        options.fast = true;
        std::string error;
        EXPECT_TRUE(diag::PrepareMachine(options, error)) << error;
        StopCapture();
        Capture();
        std::FILE* lines = std::tmpfile();
        Report report = diag::RunSequence(options, lines);
        std::rewind(lines);
        char buffer[512];
        reportLines_.clear();
        while (std::fgets(buffer, sizeof buffer, lines) != nullptr) reportLines_ += buffer;
        std::fclose(lines);
        libraryOutput_ = Output();
        return report;
    }
    static const diag::StepResult* Step(const Report& report, const std::string& id) {
        for (const auto& step : report.steps) {
            if (step.id == id) return &step;
        }
        return nullptr;
    }
    static std::string ValueOf(const diag::StepResult* step, const std::string& key) {
        if (step == nullptr) return "<no step>";
        for (const auto& value : step->values) {
            if (value.key == key) return value.text;
        }
        return "<none>";
    }
    static std::string Failed(const Report& report) {
        std::string ids;
        for (const auto& step : report.steps) {
            if (!step.passed) ids += (ids.empty() ? "" : ",") + step.id;
        }
        return ids;
    }
    std::string reportLines_;
    std::string libraryOutput_;
};

TEST_F(DiagTest, DefaultNotebookPassesEveryStepInFactoryOrder) {
    const Report report = Run("default");
    std::string order;
    for (const auto& step : report.steps) order += step.id + " ";
    EXPECT_EQ(order, "machine bind ec-firmware fan battery acpi presence release ");
    EXPECT_EQ(Failed(report), "");
    EXPECT_EQ(ValueOf(Step(report, "fan"), "path"), "ZLKD");
    EXPECT_EQ(ValueOf(Step(report, "fan"), "rpm"), "3000");
    EXPECT_EQ(ValueOf(Step(report, "machine"), "machine_type"), "0");
    EXPECT_EQ(ValueOf(Step(report, "battery"), "percent"), "50");
    // The library's own lines are untouched; ours all carry the prefix.
    EXPECT_NE(libraryOutput_.find("EC FW:=ZLKD 1.07.02=\n"), std::string::npos);
    EXPECT_NE(reportLines_.find(">> [PASS] fan test"), std::string::npos);
    // The pauses the library made for these steps, on the virtual clock.
    EXPECT_GT(report.pauseSeconds, 3.4);
}

// The identity record fills once per process, so each scenario runs in a
// test process of its own.
struct FanCase {
    const char* scenario;
    bool ecPlatform;
    const char* path;
    const char* rpm;
};

class DiagFanTest : public DiagTest, public ::testing::WithParamInterface<FanCase> {};

TEST_P(DiagFanTest, PlatformIsNamedAndMeasured) {
    const FanCase& c = GetParam();
    Options options;
    options.ecPlatform = c.ecPlatform;
    const Report report = Run(c.scenario, options);
    EXPECT_EQ(Failed(report), "");
    const diag::StepResult* fan = Step(report, "fan");
    ASSERT_NE(fan, nullptr);
    EXPECT_EQ(ValueOf(fan, "path"), c.path);
    if (c.rpm != nullptr) EXPECT_EQ(ValueOf(fan, "rpm"), c.rpm);
}

INSTANTIATE_TEST_SUITE_P(Platforms, DiagFanTest,
                         ::testing::Values(FanCase{"zlkd", true, "ZLKD", "3000"}, FanCase{"pwm", true, "PWM", nullptr},
                                           FanCase{"amd", false, "AMD", "3000"},
                                           FanCase{"machine-type", true, "machine-type", nullptr}));

struct FailureCase {
    const char* scenario;
    const char* failed;
};

class DiagFailureTest : public DiagTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DiagFailureTest, FailingStepsAreReportedAndFailTheRun) {
    const FailureCase& c = GetParam();
    const Report report = Run(c.scenario);
    EXPECT_EQ(Failed(report), c.failed);
    const std::string json = diag::ToJson(report);
    EXPECT_TRUE(JsonChecker(json).Valid()) << json;
    EXPECT_NE(json.find("\"result\":\"FAIL\""), std::string::npos);
    EXPECT_NE(diag::SummaryLine(report).find(": FAIL"), std::string::npos);
    EXPECT_NE(reportLines_.find(">> [FAIL] "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, DiagFailureTest,
                         ::testing::Values(FailureCase{"foreign", "machine"},
                                           FailureCase{"init-fails", "bind,ec-firmware,fan"},
                                           FailureCase{"ec-fw-silent", "ec-firmware"},
                                           FailureCase{"no-battery", "battery"},
                                           FailureCase{"acpi-absent", "acpi"},
                                           FailureCase{"nb-invoke-fails", "presence"}));

TEST_F(DiagTest, ChargeSwitchRoundTripAlwaysEndsCharging) {
    Options options;
    options.chargeSwitch = true;
    options.only = {"bind", "charge", "release"};
    Report report = Run("default", options);
    EXPECT_EQ(Failed(report), "");
    EXPECT_EQ(ValueOf(Step(report, "charge"), "read_back_off"), "true");
    EXPECT_EQ(sim::Current().chargeSwitch.Value(sim::ChargeSwitch::kRamByte) & 0x40, 0);

    report = Run("charge-never-sticks", options);
    EXPECT_EQ(Failed(report), "charge");
    EXPECT_NE(libraryOutput_.find("Set battery to charging state\n"), std::string::npos);
}

TEST_F(DiagTest, JsonCarriesEveryStepAndItsValues) {
    const Report report = Run("default");
    const std::string json = diag::ToJson(report);
    EXPECT_TRUE(JsonChecker(json).Valid()) << json;
    EXPECT_EQ(json.rfind("{\"tool\":\"hwtk3-diag\",\"version\":\"" HWTK3_VERSION "\","
                         "\"machine\":\"virtual notebook\",\"scenario\":\"default\","
                         "\"passed\":8,\"failed\":0,\"result\":\"PASS\"",
                         0),
              0u)
        << json;
    EXPECT_NE(json.find("\"id\":\"fan\",\"title\":\"fan test\",\"passed\":true"), std::string::npos);
    EXPECT_NE(json.find("\"path\":\"ZLKD\",\"target_rpm\":3000"), std::string::npos) << json;
    // Texts from the machine are escaped, never break the document.
    diag::StepResult odd;
    odd.id = "x";
    odd.detail = "quote \" backslash \\ tab \t newline \n bell \a";
    Report oddReport;
    oddReport.steps.push_back(odd);
    EXPECT_TRUE(JsonChecker(diag::ToJson(oddReport)).Valid()) << diag::ToJson(oddReport);
}

// The program itself: exit status 0 when all passed, 1 when a step failed,
// 2 for a usage error; --json puts the document on the last line.
TEST_F(DiagTest, ProgramExitStatusAndJsonLine) {
    const std::string program = HWTK3_BIN_DIR "/hwtk3-diag";
    auto status = [&program](const std::string& arguments) {
        const int raw = std::system((program + " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("--fast"), 0);
    EXPECT_EQ(status("--fast --scenario foreign"), 1);
    EXPECT_EQ(status("--fast --steps fan,nonsense"), 2);
    EXPECT_EQ(status("--scenario no-such-machine"), 2);
    EXPECT_EQ(status("--version --fast"), 0);

    std::FILE* pipe = popen((program + " --fast --json --scenario no-battery 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string last, line;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        line = buffer;
        if (!line.empty() && line != "\n") last = line;
    }
    const int raw = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    ASSERT_FALSE(last.empty());
    last.pop_back();
    EXPECT_TRUE(JsonChecker(last).Valid()) << last;
    EXPECT_NE(last.find("\"id\":\"battery\",\"title\":\"battery status\",\"passed\":false"), std::string::npos);
}

// --version prints the project's version; --help lists the virtual
// notebook's options in this build.
TEST_F(DiagTest, VersionAndUsage) {
    const std::string program = HWTK3_BIN_DIR "/hwtk3-diag";
    auto output = [&program](const std::string& arguments) {
        std::string text;
        if (std::FILE* pipe = popen((program + " " + arguments + " 2>&1").c_str(), "r")) {
            char buffer[4096];
            std::size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
            pclose(pipe);
        }
        return text;
    };
    EXPECT_EQ(output("--version"), "hwtk3-diag " HWTK3_VERSION "\n");
    EXPECT_EQ(std::string(HWTK3_VERSION).find_first_not_of("0123456789."), std::string::npos) << HWTK3_VERSION;
    const std::string usage = output("--help");
    EXPECT_NE(usage.find("--scenario NAME"), std::string::npos) << usage;
    EXPECT_NE(usage.find("--version"), std::string::npos) << usage;
    EXPECT_TRUE(diag::VirtualNotebookOption("--scenario"));
    EXPECT_TRUE(diag::VirtualNotebookOption("--fast"));
    EXPECT_FALSE(diag::VirtualNotebookOption("--steps"));
}

// The stand-in DLLs set their notebook up from HWTK3_SIM_SCENARIO and tell
// hwtk3-diag.exe what they were set up with, an unknown name included.
TEST(StandinScenarioTest, VariableSetsUpTheNotebookAndSaysWhat) {
    struct Case {
        const char* variable;
        const char* text;
        bool slow;  // slow-ec applied
        bool stuck;  // ibf-stuck applied
    };
    const Case cases[] = {
        {nullptr, "default", false, false},
        {"", "default", false, false},
        {"slow-ec,ibf-stuck", "slow-ec,ibf-stuck", true, true},
        {"slow-ec,ibf-stuk,ibf-stuck",
         "slow-ec,ibf-stuk,ibf-stuck (unknown scenario \"ibf-stuk\": it and the names after it not applied)", true,
         false},
    };
    for (const Case& c : cases) {
        sim::Notebook notebook;
        EXPECT_EQ(sim::ApplyScenarioVariable(notebook, c.variable), c.text) << (c.variable ? c.variable : "null");
        EXPECT_EQ(notebook.ec.latencyMs != 0, c.slow) << c.text;
        EXPECT_EQ(notebook.ec.faults[0].ibfStuck, c.stuck) << c.text;
    }
}

}  // namespace
}  // namespace hwtk3::test
