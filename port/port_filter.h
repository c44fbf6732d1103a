#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port/adapter_identity.h"

// Which USB adapters a station may talk to (--port-filter vid=HEX[,pid=HEX][,serial=TEXT]):
// without a filter every port is used; with filters, only a port whose adapter matches one
// of them, so a UPS, a GPS receiver or a console cable on the same PC never hears a byte.
struct PortFilter {
    unsigned vendor_id = 0;
    std::optional<unsigned> product_id;
    std::optional<std::string> serial_number;  // compared exactly, case and all
};

// "vid=0403,pid=6001,serial=A50285BI": fields in any order, each at most once, vid needed;
// ids are 1 to 4 hex digits in either case, with or without 0x. A comma always separates
// fields, so a serial number holding a comma cannot be given. Nothing (with the reason in
// error) when the text is no filter.
std::optional<PortFilter> parse_port_filter(const std::string& text, std::string& error);

// Whether the adapter is a USB device with every field the filter gives.
bool filter_matches(const PortFilter& filter, const AdapterIdentity& adapter);

// Whether a port with this adapter is used: no filters at all, or one of them matches.
bool filters_keep(const std::vector<PortFilter>& filters, const AdapterIdentity& adapter);

// Whether a port on device (what the serial layer opens for it) is used: no filters at all,
// or one of them matches the adapter behind it. Looks the adapter up only with filters.
bool filters_keep_device(const std::vector<PortFilter>& filters, const std::string& device);

// "vid=0403,pid=6001,serial=A50285BI" with the ids as four lower-case digits.
std::string describe_port_filter(const PortFilter& filter);
// Each filter described, joined by " or ".
std::string describe_port_filters(const std::vector<PortFilter>& filters);
// What a search says when the filters keep none of the ports it looked at (the serial
// numbers in it as given: shown escaped).
std::string filters_keep_no_port(const std::vector<PortFilter>& filters);
