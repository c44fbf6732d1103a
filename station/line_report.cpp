#include "station/line_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "station/report_file.h"
#include "station/wall_time.h"

nlohmann::ordered_json report_object(const PortRun& run, const std::string& version) {
    nlohmann::ordered_json object = {{"port", json_text(run.port)},
                                     {"device", json_text(run.device)}};
    add_adapter_and_host(object, run.usb_serial, run.by_id, run.host);
    object["identification"] = json_text(run.identification);
    object["image"] = json_text(run.image_path);
    object["checksum"] = json_text(run.checksum);
    object["image_sha256"] = json_text(run.image_sha256);
    object["result"] = json_text(run.result);
    object["message"] = json_text(run.message);
    object["records"] = run.records;
    object["start"] = iso8601_utc(run.started);
    object["end"] = iso8601_utc(run.ended);
    object["duration"] = run.seconds;
    object["version"] = json_text(version);
    if (!run.trace_path.empty()) {
        object["trace"] = json_text(run.trace_path);
    }
    return object;
}

bool append_report(const std::string& path, const PortRun& run, std::string& error) {
    return append_line_durably(path, json_line(report_object(run, KORVAN_VERSION)) + "\n", error);
}

bool can_append_to(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}
