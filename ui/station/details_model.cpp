#include "ui/station/details_model.h"

#include "station/line_report.h"
#include "tools/download_cli/printable_text.h"

std::vector<std::pair<std::string, std::string>> report_fields(const PortRun& run) {
    std::vector<std::pair<std::string, std::string>> fields;
    const nlohmann::ordered_json line = report_object(run, KORVAN_VERSION);
    for (const auto& [name, value] : line.items()) {
        fields.emplace_back(name, value.is_string() ? value.get<std::string>() : value.dump());
    }
    return fields;
}

std::optional<PortRun> last_run_of(const std::vector<PortRun>& last_runs, const std::string& port) {
    std::optional<PortRun> last;
    for (const PortRun& run : last_runs) {
        if (run.port == port) {
            last = run;
        }
    }
    return last;
}

std::string details_text(const std::string& port, const std::string& adapter,
                         const std::optional<PortRun>& last_run, const std::string& note) {
    std::string text = "Port: " + printable(port) + "\n";
    if (!adapter.empty()) {
        text += "Adapter: " + printable(adapter) + "\n";
    }
    if (!note.empty()) {
        text += "Station: " + printable(note) + "\n";
    }
    if (!last_run) {
        return text + "No flash has ended on this port yet.\n";
    }
    text += "Last final message: " + printable(last_run->message) + "\n";
    text += "Trace file: " +
            (last_run->trace_path.empty() ? std::string("none (no --trace)")
                                          : printable(last_run->trace_path)) +
            "\n";
    text += "Report line:\n";
    for (const auto& [name, value] : report_fields(*last_run)) {
        text += "  " + printable(name) + ": " + printable(value) + "\n";
    }
    return text;
}
