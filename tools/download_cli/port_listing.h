#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "port/adapter_identity.h"
#include "port/port_filter.h"

// What --list-ports shows: one row per COM number 1..9, then one per serial device the
// search passes over, with the reason. Each operating system gathers its rows its own way;
// the text and JSON written from them are the same everywhere.

struct PortListingHolder {
    std::string name;  // the program's name as the system keeps it
    int pid = 0;
};

struct PortListingRow {
    int com_number = 0;         // 1..9; 0 for a device that is not searched
    int device_com_number = 0;  // the number the machine gives the device; 0 none
    std::string not_searched;   // why not: console, phantom, beyond_com9, replaced_by_environment
    std::string device;         // the path opened, empty when COMn has no device
    std::string set_by;         // KORVAN_COM<n> when the environment names the device
    bool listed = false;        // the system lists the device: the fields below are known
    std::string name;           // the system's name for it: ttyUSB0
    std::string kind;           // uart, phantom, usb, acm, other
    std::string description;    // "USB ftdi_sio 0403:6001 "FTDI" "FT232R USB UART" serial A1"
    std::string driver;         // ftdi_sio
    std::string manufacturer;   // USB only, as the device reports it
    std::string product;        // USB only
    AdapterIdentity adapter;    // USB ids, serial number and by-id name
    std::string by_id_path;     // the whole path of its by-id link, if any
    std::string state;          // free, in_use, no_permission, missing, ..., no_device
    std::string state_text;     // "in use by ModemManager (pid 812)"
    std::vector<PortListingHolder> holders;  // in_use: who has it open, when that is seen
    std::string group;                       // no_permission: the group owning the device
    std::optional<bool> kept;                // with --port-filter: whether a filter keeps the port
};

// This machine's rows (Linux: port_listing_posix.cpp; the Windows listing still has rows of
// its own, windows_port_listing.h).
std::vector<PortListingRow> gather_port_rows();

// Marks each row as kept or not by filters (no mark without filters).
void mark_kept_ports(std::vector<PortListingRow>& rows, const std::vector<PortFilter>& filters);

// Aligned columns PORT DEVICE KIND BY-ID STATE (and FILTER when rows are marked), or a JSON
// object {"ports": [...]}.
void write_port_listing(std::ostream& out, const std::vector<PortListingRow>& rows, bool json);

// The listing of rows as --list-ports shows it, each row marked by filters; filters that
// keep no port are said after the table (on err with JSON, which stays one object).
void write_filtered_port_listing(std::ostream& out, std::ostream& err,
                                 std::vector<PortListingRow> rows, bool json,
                                 const std::vector<PortFilter>& filters);
// Writes one row per serial device and per COM number (aligned text, or JSON for scripts)
// and returns the program's exit status; with filters each row says whether they keep it.
// One implementation per platform (port_listing_posix.cpp, port_listing_win32.cpp).
int list_serial_ports(std::ostream& out, bool json, const std::vector<PortFilter>& filters);
