// hwtk3-diag's factory sequence and its report, on each virtual-notebook
// scenario: which steps pass, what they measured, the JSON a test station
// records (held to tools/hwtk3-diag.schema.json), every option and the
// program's exit status.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hwtk3_version.h"
#include "sim/scenario.h"
#include "sim/smbios_builder.h"
#include "tests/support.h"
#include "tools/diag_machine.h"
#include "tools/diag_report.h"
#include "tools/diag_sequence.h"

namespace hwtk3::test {
namespace {

using diag::Options;
using diag::Report;

const std::string kProgram = HWTK3_BIN_DIR "/hwtk3-diag";

// What the program did with a command line.
struct Outcome {
    int status = -1;  // exit status; -1 when it did not exit (a signal)
    std::string out;
    std::string err;
};

Outcome RunProgram(const std::string& arguments) {
    char errPath[] = "/tmp/hwtk3-diag-err-XXXXXX";
    const int fd = mkstemp(errPath);
    if (fd >= 0) close(fd);
    Outcome outcome;
    if (std::FILE* pipe = popen((kProgram + " " + arguments + " 2>" + errPath).c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.out.append(buffer, got);
        const int raw = pclose(pipe);
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    outcome.err = text.str();
    std::remove(errPath);
    return outcome;
}

std::string LastLine(const std::string& text) {
    std::string last, line;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}

void ExpectValid(const std::vector<std::string>& documents) {
    std::string errors;
    EXPECT_TRUE(ValidReports(documents, errors)) << errors;
}

class DiagTest : public NotebookTest {
protected:
    // `adjust` changes the prepared notebook before the sequence runs.
    Report Run(const std::string& scenario, Options options = {}, void (*adjust)(sim::Notebook&) = nullptr) {
        options.scenario = scenario;
        options.fast = true;
        std::string error;
        EXPECT_TRUE(diag::PrepareMachine(options, error)) << error;
        if (adjust != nullptr) adjust(sim::Current());
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

// Each scenario from a freshly loaded library; every report is held to
// the schema.
TEST_F(DiagTest, PlatformsAndFailuresAreReportedAndEveryReportFitsTheSchema) {
    struct Case {
        const char* scenario;
        bool ecPlatform;
        bool chargeSwitch;
        const char* failed;  // step ids, in order
        const char* path;    // the fan step's
        const char* rpm;     // nullptr: not checked
    };
    const Case cases[] = {
        {"zlkd", true, false, "", "ZLKD", "3000"},
        {"pwm", true, false, "", "PWM", nullptr},
        {"amd", false, false, "", "AMD", "3000"},
        {"machine-type", true, true, "", "machine-type", nullptr},
        {"default", true, true, "", "ZLKD", "3000"},
        {"foreign", true, false, "machine", "ZLKD", "3000"},
        {"init-fails", true, false, "bind,ec-firmware,fan", "EC", "<none>"},
        {"ec-fw-silent", true, false, "ec-firmware", "EC", nullptr},
        // No firmware text: the PWM path, whose window this EC does not
        // decode, reads 0xFF everywhere.
        {"ibf-stuck", true, false, "ec-firmware,fan", "EC", "65535"},
        {"no-battery", true, false, "battery", "ZLKD", "3000"},
        {"charge-never-sticks", true, true, "charge", "ZLKD", "3000"},
        {"acpi-absent", true, false, "acpi", "ZLKD", "3000"},
        {"nb-invoke-fails", true, false, "presence", "ZLKD", "3000"},
    };
    std::vector<std::string> documents;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        ResetLibrary();
        Options options;
        options.ecPlatform = c.ecPlatform;
        options.chargeSwitch = c.chargeSwitch;
        const Report report = Run(c.scenario, options);
        EXPECT_EQ(Failed(report), c.failed);
        EXPECT_EQ(ValueOf(Step(report, "fan"), "path"), c.path);
        if (c.rpm != nullptr) EXPECT_EQ(ValueOf(Step(report, "fan"), "rpm"), c.rpm);
        const bool failed = *c.failed != 0;
        EXPECT_EQ(diag::ExitStatus(report), failed ? 1 : 0);
        EXPECT_NE(diag::SummaryLine(report).find(failed ? ": FAIL" : ": PASS"), std::string::npos);
        EXPECT_EQ(reportLines_.find(">> [FAIL] ") != std::string::npos, failed);
        const std::string json = diag::ToJson(report);
        EXPECT_NE(json.find(failed ? "\"result\":\"FAIL\"" : "\"result\":\"PASS\""), std::string::npos) << json;
        documents.push_back(json);
    }
    ExpectValid(documents);
}

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
    EXPECT_EQ(json.rfind("{\"tool\":\"hwtk3-diag\",\"version\":\"" HWTK3_VERSION "\","
                         "\"machine\":\"virtual notebook\",\"scenario\":\"default\","
                         "\"passed\":8,\"failed\":0,\"result\":\"PASS\"",
                         0),
              0u)
        << json;
    EXPECT_NE(json.find("\"id\":\"fan\",\"title\":\"fan test\",\"passed\":true"), std::string::npos);
    EXPECT_NE(json.find("\"path\":\"ZLKD\",\"target_rpm\":3000"), std::string::npos) << json;
    // Flags are JSON booleans, not texts.
    EXPECT_NE(json.find("\"accepted\":true"), std::string::npos) << json;
    // Texts from the machine are escaped, never break the document; a
    // skipped step says so and does not count as passed.
    Report odd = report;
    odd.steps.front().detail = "quote \" backslash \\ tab \t newline \n bell \a";
    odd.steps.front().values.at(2).text = "\x01\x1f\x7f";  // the manufacturer
    odd.steps[1].skipped = true;
    odd.steps[1].passed = false;
    odd.channels.push_back({"0x62/0x66 EC RAM read 0x80", "raw \"ports\"", false});
    EXPECT_NE(diag::ToJson(odd).find("\"skipped\":1"), std::string::npos);
    ExpectValid({json, diag::ToJson(odd)});
}

// A 256-character identity text fills the library's bounded copy without
// a terminator: the report takes it as a text of 255 at most.
TEST_F(DiagTest, LongIdentityTextsStayInTheirBuffers) {
    Options options;
    options.only = {"machine"};
    const Report report = Run("default", options, [](sim::Notebook& n) {
        sim::MachineIdentity id;
        id.manufacturer = "Quorvex " + std::string(300, 'M');
        id.product = std::string(256, 'P');
        id.boardSerial = std::string(256, 'Z');
        sim::InstallMachine(n, id);
    });
    EXPECT_EQ(ValueOf(Step(report, "machine"), "manufacturer"), ("Quorvex " + std::string(300, 'M')).substr(0, 255));
    EXPECT_EQ(ValueOf(Step(report, "machine"), "product"), std::string(255, 'P'));
    EXPECT_EQ(ValueOf(Step(report, "machine"), "board_serial"), std::string(255, 'Z'));
    ExpectValid({diag::ToJson(report)});
}

TEST_F(DiagTest, ExitStatusOfEveryOutcome) {
    struct Case {
        bool passed, skipped;
    };
    const std::pair<std::vector<Case>, int> cases[] = {
        {{{true, false}, {true, false}}, 0},
        {{{true, false}, {false, false}}, 1},
        {{{true, false}, {false, true}}, 3},
        {{{false, false}, {false, true}}, 1},
        {{}, 0},
    };
    for (const auto& [steps, status] : cases) {
        Report report;
        for (const Case& c : steps) {
            diag::StepResult step;
            step.passed = c.passed;
            step.skipped = c.skipped;
            report.steps.push_back(step);
        }
        EXPECT_EQ(diag::ExitStatus(report), status) << steps.size();
    }
}

// The program itself: every option, each value option given last without
// its value, bad values, and the exit status of each; every JSON it writes
// is held to the schema.
TEST_F(DiagTest, EveryOptionAndItsExitStatus) {
    char jsonPath[] = "/tmp/hwtk3-diag-json-XXXXXX";
    const int fd = mkstemp(jsonPath);
    ASSERT_GE(fd, 0);
    close(fd);
    struct Case {
        std::string arguments;
        int status;
        const char* shows;  // in standard output, or standard error for status 2
    };
    const Case cases[] = {
        {"--fast", 0, ">> 8 steps: 8 passed, 0 failed"},
        {"--fast --scenario foreign", 1, ": FAIL"},
        {"--fast --scenario machine-type,slow-ec --charge-switch", 0, "[PASS] charge switch"},
        {"--fast --steps fan,bind", 1, ">> 2 steps: 1 passed, 1 failed"},  // no firmware text: the PWM window
        {"--fast --scenario pwm --steps fan,bind", 0, ">> 2 steps: 2 passed"},
        {"--fast --skip acpi,presence", 0, ">> 6 steps: 6 passed"},
        {"--fast --scenario zlkd --fan-target 2000 --steps bind,ec-firmware,fan", 0, "measured 2000 RPM"},
        {"--fast --scenario machine-type --duty 0 --steps machine,bind,fan", 0, "Set Fan0 Duty: 50"},
        {"--fast --scenario pwm --pwm-setting 80 --steps bind,fan", 0, "setting 80, measured 4000 RPM"},
        {"--fast --scenario amd --amd-platform --steps bind,fan", 0, "AMD path, target 3000 RPM"},
        {"--fast --dmi-scan --steps machine", 0, "smbios_decode"},
        {"--fast --json --steps bind", 0, "{\"tool\":\"hwtk3-diag\""},
        {"--fast --json-file " + std::string(jsonPath) + " --steps bind", 0, "[PASS] bind port I/O"},
        {"--list-scenarios", 0, "machine-type-1"},
        {"--help", 0, "usage: hwtk3-diag"},
        {"-h", 0, "usage: hwtk3-diag"},
        {"--version", 0, "hwtk3-diag " HWTK3_VERSION},
        {"--scenario", 2, "incomplete option '--scenario'"},
        {"--fast --json-file", 2, "incomplete option '--json-file'"},
        {"--fast --steps", 2, "incomplete option '--steps'"},
        {"--fast --skip", 2, "incomplete option '--skip'"},
        {"--fast --fan-target", 2, "incomplete option '--fan-target'"},
        {"--fast --duty", 2, "incomplete option '--duty'"},
        {"--fast --pwm-setting", 2, "incomplete option '--pwm-setting'"},
        {"--fast --steps fan,nonsense", 2, "unknown step 'nonsense'"},
        {"--fast --skip nonsense", 2, "unknown step 'nonsense'"},
        {"--fast --fan-target -1", 2, "bad --fan-target"},
        {"--fast --fan-target 480001", 2, "bad --fan-target"},
        {"--fast --fan-target 3000rpm", 2, "bad --fan-target"},
        {"--fast --duty 103", 2, "bad --duty"},
        {"--fast --pwm-setting 101", 2, "bad --pwm-setting"},
        {"--scenario no-such-machine", 2, "unknown scenario"},
        {"--fast --bogus", 2, "unknown or incomplete option '--bogus'"},
        {"--hardware --fast", 2, "--hardware runs on this machine"},
        {"--hardware --scenario default", 2, "--hardware runs on this machine"},
        {"--ec", 2, "--ec goes with --hardware"},
        {"--fast --json-file /nonexistent/dir/report.json", 2, "cannot write /nonexistent/dir/report.json"},
    };
    std::vector<std::string> documents;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        const std::string& shown = c.status == 2 ? outcome.err : outcome.out;
        EXPECT_NE(shown.find(c.shows), std::string::npos) << shown;
        // A mistake on the command line also shows how it should look.
        if (c.status == 2 && std::string(c.shows).find("unknown scenario") == std::string::npos &&
            std::string(c.shows).find("cannot write") == std::string::npos) {
            EXPECT_NE(outcome.err.find("usage: hwtk3-diag"), std::string::npos) << outcome.err;
        }
        if (c.arguments.find("--json ") != std::string::npos) documents.push_back(LastLine(outcome.out));
    }
    std::ifstream written(jsonPath);
    std::string document;
    std::getline(written, document);
    documents.push_back(document);
    std::remove(jsonPath);
    // And the JSON line of a failing run with the charge switch.
    const Outcome failing = RunProgram("--fast --json --charge-switch --scenario no-battery");
    EXPECT_EQ(failing.status, 1);
    documents.push_back(LastLine(failing.out));
    EXPECT_NE(documents.back().find("\"id\":\"battery\",\"title\":\"battery status\",\"passed\":false"),
              std::string::npos);
    ExpectValid(documents);
}

// --help lists the virtual notebook's options in this build.
TEST_F(DiagTest, VirtualNotebookOptions) {
    const std::string usage = RunProgram("--help").out;
    EXPECT_NE(usage.find("--scenario NAME"), std::string::npos) << usage;
    EXPECT_EQ(std::string(HWTK3_VERSION).find_first_not_of("0123456789."), std::string::npos) << HWTK3_VERSION;
    EXPECT_TRUE(diag::VirtualNotebookOption("--scenario"));
    EXPECT_TRUE(diag::VirtualNotebookOption("--list-scenarios"));
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
