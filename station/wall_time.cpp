#include "station/wall_time.h"

#include <algorithm>
#include <cstdio>

std::string iso8601_utc(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    const auto in_ms = floor<milliseconds>(moment);
    const auto day = floor<days>(in_ms);
    const year_month_day date{day};
    const hh_mm_ss time{in_ms - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::string compact_utc_time(std::chrono::system_clock::time_point moment) {
    std::string text = iso8601_utc(moment);
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == '-' || c == ':'; }),
        text.end());
    return text;
}
