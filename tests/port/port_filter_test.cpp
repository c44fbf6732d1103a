// The rules of --port-filter: what is a filter, and which adapters it keeps.
#include "port/port_filter.h"

#include <gtest/gtest.h>

namespace {

PortFilter parsed(const std::string& text) {
    std::string error;
    const std::optional<PortFilter> filter = parse_port_filter(text, error);
    EXPECT_TRUE(filter.has_value()) << text << ": " << error;
    return filter.value_or(PortFilter{});
}

AdapterIdentity usb(const std::string& vendor, const std::string& product,
                    const std::string& serial) {
    return AdapterIdentity{vendor, product, serial, ""};
}

TEST(PortFilter, MalformedFiltersAreRefusedWithTheirReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "an empty field"},
        {"pid=6001", "vid= is missing"},
        {"serial=A1", "vid= is missing"},
        {"vid=", "vid= is no USB id (1 to 4 hex digits)"},
        {"vid=0x", "vid=0x is no USB id (1 to 4 hex digits)"},
        {"vid=10403", "vid=10403 is no USB id (1 to 4 hex digits)"},
        {"vid=04g3", "vid=04g3 is no USB id (1 to 4 hex digits)"},
        {"vid=0403,vid=0403", "vid is given twice"},
        {"vid=0403,", "an empty field"},
        {"vid=0403,product=6001", "unknown field \"product\" (vid=, pid= or serial=)"},
        {"vid=0403,serial=", "serial= is empty"},
        // A comma always ends a field: a serial number holding one cannot be written.
        {"vid=0403,serial=A1,B2",
         "\"B2\" is no field (vid=, pid= or serial=; a serial number cannot hold a comma)"},
    };
    for (const auto& [text, reason] : cases) {
        std::string error;
        EXPECT_FALSE(parse_port_filter(text, error).has_value()) << text;
        EXPECT_EQ(error, reason) << text;
    }
}

TEST(PortFilter, IdsMatchInAnyCaseAndEveryGivenFieldMustMatch) {
    const PortFilter ftdi = parsed("serial=A1,PID=6001,vid=0403");
    EXPECT_EQ(describe_port_filter(ftdi), "vid=0403,pid=6001,serial=A1");
    const PortFilter ch340 = parsed("vid=0x1A86");

    EXPECT_TRUE(filter_matches(ftdi, usb("0403", "6001", "A1")));
    EXPECT_FALSE(filter_matches(ftdi, usb("0403", "6001", "a1")));  // serials are exact
    EXPECT_FALSE(filter_matches(ftdi, usb("0403", "6015", "A1")));
    EXPECT_FALSE(filter_matches(ftdi, usb("0403", "6001", "")));
    EXPECT_TRUE(filter_matches(ch340, usb("1a86", "7523", "")));
    EXPECT_TRUE(filter_matches(parsed("vid=403,pid=6001"), usb("0403", "6001", "")));
    // A port with no USB adapter behind it never matches.
    EXPECT_FALSE(filter_matches(parsed("vid=0"), AdapterIdentity{}));
    EXPECT_FALSE(filter_matches(ch340, AdapterIdentity{"", "", "", "usb-1a86_x-if00"}));

    EXPECT_TRUE(filters_keep({}, AdapterIdentity{}));
    EXPECT_TRUE(filters_keep({ftdi, ch340}, usb("1a86", "7523", "")));
    EXPECT_FALSE(filters_keep({ftdi, ch340}, usb("0403", "6015", "A1")));
}

}  // namespace
