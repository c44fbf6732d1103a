#include "station/line_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "station/report_file.h"
#include "station/wall_time.h"

JsonObject report_object(const PortRun& run, const std::string& version) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f", run.seconds);
    JsonObject object;
    object.add("port", run.port)
        .add("device", run.device)
        .add("identification", run.identification)
        .add("image", run.image_path)
        .add("checksum", run.checksum)
        .add("result", run.result)
        .add("message", run.message)
        .add("records", run.records)
        .add("start", iso8601_utc(run.started))
        .add("end", iso8601_utc(run.ended))
        .add_number_text("duration", duration)
        .add("version", version);
    if (!run.trace_path.empty()) {
        object.add("trace", run.trace_path);
    }
    return object;
}

bool append_report(const std::string& path, const PortRun& run, std::string& error) {
    return append_line_durably(path, report_object(run, KORVAN_VERSION).text() + "\n", error);
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
