#include "tools/diag_report.h"

#include <cstdio>

#include "hwtk3_version.h"

namespace hwtk3::diag {
namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

}  // namespace

void StepResult::Add(const std::string& key, double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", number);
    values.push_back({key, text, true});
}

int Report::Failed() const {
    int failed = 0;
    for (const StepResult& step : steps) failed += step.passed || step.skipped ? 0 : 1;
    return failed;
}

int Report::Skipped() const {
    int skipped = 0;
    for (const StepResult& step : steps) skipped += step.skipped ? 1 : 0;
    return skipped;
}

int ExitStatus(const Report& report) {
    if (report.Failed() != 0) return 1;
    return report.Skipped() != 0 ? 3 : 0;
}

std::string ChannelLines(const Report& report) {
    std::string lines;
    for (const Value& channel : report.channels) {
        lines += std::string(kReportPrefix) + "channel " + channel.key + ": " + channel.text + "\n";
    }
    return lines;
}

std::string StepLine(const StepResult& step) {
    char head[96];
    std::snprintf(head, sizeof head, "%s[%s] %-22s %7.3f s  ", kReportPrefix, step.skipped ? "SKIP" : step.passed ? "PASS" : "FAIL",
                  step.title.c_str(), step.seconds);
    return head + step.detail;
}

std::string DiagnosisLines(const StepResult& step) {
    std::string lines;
    for (const Finding& finding : step.diagnosis) lines += std::string(kReportPrefix) + "   - " + finding.text + "\n";
    return lines;
}

std::string SummaryLine(const Report& report) {
    std::string line = kReportPrefix;
    line += std::to_string(report.steps.size()) + " steps: " + std::to_string(report.Passed()) + " passed, " +
            std::to_string(report.Failed()) + " failed";
    if (report.Skipped() != 0) line += ", " + std::to_string(report.Skipped()) + " skipped";
    line += " in " + Seconds(report.seconds) + " s";
    if (report.pauseSeconds >= 0) {
        line += " (library pauses " + Seconds(report.pauseSeconds) + " s, overhead " +
                Seconds(report.seconds - report.pauseSeconds) + " s)";
    }
    return line + (report.Failed() != 0 ? ": FAIL" : report.Skipped() != 0 ? ": PASS (some steps skipped)" : ": PASS");
}

std::string ToJson(const Report& report) {
    std::string json = "{\"tool\":\"hwtk3-diag\",\"version\":" + JsonString(HWTK3_VERSION) +
                       ",\"machine\":" + JsonString(report.machine);
    if (!report.scenario.empty()) json += ",\"scenario\":" + JsonString(report.scenario);
    json += ",\"passed\":" + std::to_string(report.Passed()) + ",\"failed\":" + std::to_string(report.Failed());
    if (report.Skipped() != 0) json += ",\"skipped\":" + std::to_string(report.Skipped());
    json += ",\"result\":" + JsonString(report.Failed() == 0 ? "PASS" : "FAIL");
    json += ",\"seconds\":" + Seconds(report.seconds);
    if (report.pauseSeconds >= 0) json += ",\"pause_seconds\":" + Seconds(report.pauseSeconds);
    json += ",\"steps\":[";
    for (std::size_t i = 0; i < report.steps.size(); ++i) {
        const StepResult& step = report.steps[i];
        if (i != 0) json += ",";
        json += "{\"id\":" + JsonString(step.id) + ",\"title\":" + JsonString(step.title) +
                ",\"passed\":" + (step.passed ? "true" : "false") + (step.skipped ? ",\"skipped\":true" : "") +
                ",\"seconds\":" + Seconds(step.seconds) +
                ",\"detail\":" + JsonString(step.detail) + ",\"values\":{";
        for (std::size_t v = 0; v < step.values.size(); ++v) {
            if (v != 0) json += ",";
            json += JsonString(step.values[v].key) + ":" +
                    (step.values[v].isNumber ? step.values[v].text : JsonString(step.values[v].text));
        }
        json += "}";
        if (!step.diagnosis.empty()) {
            json += ",\"diagnosis\":[";
            for (std::size_t f = 0; f < step.diagnosis.size(); ++f) {
                const Finding& finding = step.diagnosis[f];
                json += std::string(f != 0 ? "," : "") + "{\"id\":" + JsonString(finding.id) +
                        ",\"state\":" + JsonString(finding.state) + ",\"text\":" + JsonString(finding.text) + "}";
            }
            json += "]";
        }
        json += "}";
    }
    json += "]";
    if (!report.channels.empty()) {
        json += ",\"channels\":{";
        for (std::size_t c = 0; c < report.channels.size(); ++c) {
            if (c != 0) json += ",";
            json += JsonString(report.channels[c].key) + ":" + JsonString(report.channels[c].text);
        }
        json += "}";
    }
    return json + "}";
}

}  // namespace hwtk3::diag
