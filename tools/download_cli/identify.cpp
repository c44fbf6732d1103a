#include "tools/download_cli/identify.h"

#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/modem_map.h"
#include "engine/modem_probe.h"
#include "engine/regular_file.h"
#include "port/port_discovery.h"
#include "tools/download_cli/console_host.h"
#include "tools/download_cli/event_host.h"
#include "tools/download_cli/image_check.h"
#include "tools/download_cli/port_search_report.h"
#include "tools/download_cli/printable_text.h"
#include "tools/download_cli/single_download.h"
#include "tools/json_text/json_text.h"

namespace {

// One search: the ports it tries, and whether the user named them.
struct Search {
    std::vector<PortTableEntry> ports;
    bool named = false;
};

// What is known of the modem found and the image it would get.
struct Identity {
    ModemProbe probe;
    std::optional<ModemMapMatch> map_match;
    std::string image_path;
    bool image_from_option = false;
    ImageCheck image;
};

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::optional<ModemMapMatch> match_in_modem_map(const std::string& identification) {
    std::FILE* file = open_regular_file(default_modem_map_path().c_str(), "r");
    if (file == nullptr) {
        return std::nullopt;
    }
    ModemMapReader map(
        [file](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, file); });
    std::optional<ModemMapMatch> match = find_modem_map_match(map, identification);
    std::fclose(file);
    return match;
}

Identity identity_of(const ModemProbe& probe, const CliOptions& options) {
    Identity identity{probe, match_in_modem_map(probe.identification), {}, false, {}};
    if (!options.image_path.empty()) {
        identity.image_path = options.image_path;
        identity.image_from_option = true;
    } else if (identity.map_match) {
        identity.image_path = identity.map_match->entry.image_path;
    }
    identity.image = check_image(identity.image_path);
    return identity;
}

void write_text(std::ostream& out, const Identity& identity) {
    const PortTableEntry& port = identity.probe.port;
    out << "Port:            " << printable(port.name) << '\n'
        << "Device:          " << printable(searched_port_device(port)) << '\n'
        << "Line speed:      " << identity.probe.baud << " baud\n"
        << "Identification:  " << printable(trimmed_identification(identity.probe.identification))
        << '\n';
    if (identity.map_match) {
        out << "modems.cfg line: " << identity.map_match->line_number << ": "
            << printable(identity.map_match->line) << '\n';
    } else {
        out << "modems.cfg line: none matches\n";
    }
    out << "Image:           " << printable(identity.image_path)
        << (identity.image_from_option ? " (--image)" : "") << '\n';
    if (identity.image.valid()) {
        out << "Image valid:     yes\n"
            << "Checksum total:  " << hex4(identity.image.checksum_total) << '\n';
    } else {
        out << "Image valid:     no: " << identity.image.problem << '\n';
    }
}

nlohmann::ordered_json json_of(const Identity& identity) {
    const PortTableEntry& port = identity.probe.port;
    nlohmann::ordered_json object = {
        {"result", "identified"},
        {"port", json_text(port.name)},
        {"device", json_text(searched_port_device(port))},
        {"baud", identity.probe.baud},
        {"identification", json_text(trimmed_identification(identity.probe.identification))}};
    if (identity.map_match) {
        object["map_line"] = identity.map_match->line_number;
        object["map_text"] = json_text(identity.map_match->line);
    }
    object["image"] = json_text(identity.image_path);
    object["image_source"] = identity.image_from_option ? "--image" : "modems.cfg";
    object["image_valid"] = identity.image.valid();
    if (identity.image.valid()) {
        object["checksum"] = hex4(identity.image.checksum_total);
    } else {
        object["image_problem"] = json_text(identity.image.problem);
    }
    return object;
}

// Identifies the modem of one search; true when one answered and its image is valid.
bool identify_search(const Search& search, const CliOptions& options, std::ostream& out,
                     std::ostream& err, bool& shown_one) {
    PortSearchReport report([&err](const std::string& line) { err << line << '\n'; }, search.named);
    const std::optional<ModemProbe> probe =
        probe_for_modem(search.ports, report.watch(serial_port_factory()));
    if (!probe) {
        err << report.no_modem_line() << '\n';
        if (options.json) {
            std::string ports;
            for (const PortTableEntry& port : search.ports) {
                ports += (ports.empty() ? "" : ", ") + port.name;
            }
            const nlohmann::ordered_json no_modem = {
                {"result", "no modem"},
                {"ports", json_text(ports)},
                {"message", json_text(report.no_modem_line())}};
            out << json_line(no_modem) << '\n';
        }
        return false;
    }
    const Identity identity = identity_of(*probe, options);
    if (options.json) {
        out << json_line(json_of(identity)) << '\n';
    } else {
        out << (shown_one ? "\n" : "");
        write_text(out, identity);
        shown_one = true;
    }
    return identity.image.valid();
}

// The searches options ask for; nothing (with the reason in error) when a port name
// cannot be used.
std::optional<std::vector<Search>> searches_of(const CliOptions& options, std::string& error,
                                               std::ostream& err) {
    std::vector<Search> searches;
    if (options.all_ports) {
        std::vector<std::string> left_out;
        for (const SerialPortName& found : find_serial_ports(left_out)) {
            searches.push_back(Search{{PortTableEntry{0, found.name, found.device}}, false});
        }
        for (const std::string& device : left_out) {
            err << "korvan-download-cli: --all-ports leaves out " << printable(device) << '\n';
        }
        return searches;
    }
    std::vector<std::string> names = options.ports;
    if (!options.port_device.empty()) {
        names.push_back(options.port_device);
    }
    if (names.empty()) {
        return std::vector<Search>{Search{default_port_table(), false}};
    }
    for (const std::string& name : names) {
        std::optional<PortTableEntry> entry = port_entry_for_device(name, error);
        if (!entry) {
            error = name + ": " + error;
            return std::nullopt;
        }
        searches.push_back(Search{{*entry}, true});
    }
    return searches;
}

// Leaves in each search only the ports the filters keep, and only searches with a port left;
// false when none is left.
bool filter_searches(std::vector<Search>& searches, const std::vector<PortFilter>& filters) {
    for (Search& search : searches) {
        search.ports = ports_kept(std::move(search.ports), filters);
    }
    std::erase_if(searches, [](const Search& search) { return search.ports.empty(); });
    return !searches.empty();
}

}  // namespace

int run_identify(const CliOptions& options, std::ostream& out, std::ostream& err) {
    std::string error;
    std::optional<std::vector<Search>> searches = searches_of(options, error, err);
    if (!searches) {
        return usage_error(options, "cannot use " + printable(error), err);
    }
    if (searches->empty()) {
        err << "no serial port found; see korvan-download-cli --list-ports\n";
        return EXIT_DOWNLOAD_FAILED;
    }
    if (!filter_searches(*searches, options.port_filters)) {
        err << no_port_matches_filter(options.port_filters) << " (see --list-ports)\n";
        return EXIT_DOWNLOAD_FAILED;
    }
    bool every_one_ready = true;
    bool shown_one = false;
    for (const Search& search : *searches) {
        every_one_ready = identify_search(search, options, out, err, shown_one) && every_one_ready;
    }
    out.flush();
    return every_one_ready ? EXIT_DOWNLOAD_COMPLETE : EXIT_DOWNLOAD_FAILED;
}
