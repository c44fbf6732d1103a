#include "engine/download_host.h"

#include "port/clock.h"

void ToolkitHost::show_status(const char* text) {
    set_status_text(text);
}

void ToolkitHost::show_status_and_wait(const char* text, std::uint32_t ms) {
    set_status_text(text);
    if (ms > 0) {
        port_clock().sleep_ms(ms);
    }
}

void ToolkitHost::report_outcome(const char* text) {
    set_status_text(text);
    beep();
    enable_exit();
}
