#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/download_sequencer.h"

// What the console says on standard error about the search for a modem: each port that
// could not be opened, when it happens ("COM3 (/dev/ttyUSB7): no such device"), and after a
// run in which no modem answered, which ports were tried at which speeds. A COM number with
// no device at all is passed over in silence unless the user named it.
class PortSearchReport {
  public:
    using LineSink = std::function<void(const std::string& line)>;
    PortSearchReport(LineSink report, bool ports_named);

    // factory, telling this report (which must outlive it) about every open and speed.
    PortFactory watch(PortFactory factory);

    // "no modem answered on COM3 (/dev/ttyUSB0) at 115200 and 57600 baud; see ...".
    std::string no_modem_line() const;

  private:
    void note_open(const PortTableEntry& entry, PortStatus status);
    void note_speed(int baud);

    LineSink report_;
    bool ports_named_;
    std::vector<std::string> searched_;  // every port name, in search order
    std::vector<std::string> opened_;    // "COM3 (/dev/ttyUSB0)" for each port that opened
    std::vector<int> speeds_;            // each line speed set, once, in order
};

// "COM3 (/dev/ttyUSB0)", or the device alone when that is the port's name.
std::string port_label(const PortTableEntry& port);
