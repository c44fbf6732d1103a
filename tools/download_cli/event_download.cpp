#include "tools/download_cli/event_download.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "engine/download_image.h"
#include "engine/download_path.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/event_host.h"
#include "tools/download_cli/single_download.h"

namespace {

constexpr int STATE_SEARCH = 1;
constexpr int STATE_VALIDATE = 2;

// The checksum total the completion message will show when every record goes through,
// read from the validated image itself.
std::uint16_t image_checksum_total(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return 0;
    }
    ImageRecords records;
    count_good_records(file, &records);
    std::fclose(file);
    std::uint16_t total = 0;
    for (std::size_t offset = 0; offset + IMAGE_RECORD_SIZE <= records.size();
         offset += IMAGE_RECORD_SIZE) {
        total = static_cast<std::uint16_t>(total + record_checksum(records.data() + offset));
    }
    return total;
}

// The serial open, telling the stream about every port whose device did not open.
PortFactory reporting_port_factory(EventHost& host, const std::string& device) {
    PortFactory factory = serial_port_factory();
    auto open = factory.open;
    factory.open = [&host, device, open](int index, int baud, char parity, int data_bits,
                                         int stop_bits) {
        PortObject* port = open(index, baud, parity, data_bits, stop_bits);
        if (port == nullptr || port->status != PORT_OK) {
            host.report_skipped_port(device.empty() ? "COM" + std::to_string(index + 1) : device,
                                     port == nullptr ? PORT_E_NOT_SUPPORTED : port->status);
        }
        return port;
    };
    return factory;
}

}  // namespace

int run_event_download(const CliOptions& options) {
    keep_running_when_output_closes();
    ConsoleTimer timer;
    EventHost host(std::cout, timer);
    SingleDownloadHooks hooks;
    hooks.before_run = [&host](DownloadSequencer& sequencer) {
        host.set_records_done_source([&sequencer] { return sequencer.block_count(); });
    };
    hooks.after_step = [&host](const DownloadSequencer& sequencer, int state_before) {
        if (state_before == STATE_SEARCH && sequencer.state() == STATE_VALIDATE) {
            host.report_identification(sequencer.identification());
        } else if (state_before == STATE_VALIDATE && sequencer.state() > STATE_VALIDATE) {
            host.report_image(current_download_path, image_checksum_total(current_download_path));
        }
    };
    hooks.keep_going = [&host] { return !host.window_ended(); };

    std::string error;
    if (!run_single_download(options, host, timer, hooks, error,
                             reporting_port_factory(host, options.port_device))) {
        std::cerr << "korvan-download-cli: cannot use " << options.port_device << ": " << error
                  << '\n';
        return EXIT_USAGE_ERROR;
    }
    return host.exit_code();
}
