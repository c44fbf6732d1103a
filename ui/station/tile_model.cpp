#include "ui/station/tile_model.h"

#include <algorithm>
#include <cstdio>

#include "engine/download_image.h"
#include "tools/download_cli/printable_text.h"

namespace {

struct Verdict {
    TileState state;
    TileColour colour;
    const char* word;
};

bool download_started(const PortRun& run) {
    return run.started != std::chrono::system_clock::time_point{};
}

// A download counts as running once its modem answered: before that it may be an attempt
// on a port that has no modem yet, which the station ends and retries quietly.
Verdict verdict_of(const PortRun& run) {
    // A watching station decides whether a try that found no modem counts only once the
    // try has ended; most are tried again and never shown as runs.
    const bool provisional =
        run.result == RESULT_NO_MODEM && run.ended == std::chrono::system_clock::time_point{};
    if (run.finished() && !provisional) {
        if (run.result == RESULT_COMPLETE) {
            return {TileState::complete, TileColour::green, "complete"};
        }
        if (run.result == RESULT_CANCELLED) {
            // A child cancels only when it has no valid image to write for its modem.
            return {TileState::no_image, TileColour::red, "no image"};
        }
        return {TileState::failed, TileColour::red, "failed"};
    }
    if (!run.identification.empty() || run.records > 0) {
        return {TileState::running, TileColour::blue, "running"};
    }
    if (!run.holder.empty()) {
        return {TileState::busy, TileColour::amber, "busy"};
    }
    return {TileState::waiting, TileColour::grey, "waiting"};
}

std::string detail_of(const PortRun& run, TileState state) {
    switch (state) {
        case TileState::busy:
            return printable(run.holder);
        case TileState::complete:
            return "checksum total " + printable(run.checksum);
        case TileState::failed:
        case TileState::no_image:
            return printable(run.message);
        case TileState::waiting:
        case TileState::running:
            break;
    }
    return {};
}

double elapsed_seconds(const PortRun& run, std::chrono::steady_clock::time_point now) {
    // The outcome arrives a moment before the child ends, which is when the time is taken.
    if (run.ended != std::chrono::system_clock::time_point{}) {
        return run.seconds;
    }
    return std::chrono::duration<double>(now - run.started_steady).count();
}

}  // namespace

Tile tile_of(const PortRun& run, const std::string& adapter,
             std::chrono::steady_clock::time_point now) {
    const Verdict verdict = verdict_of(run);
    Tile tile;
    tile.state = verdict.state;
    tile.colour = verdict.colour;
    tile.word = verdict.word;
    tile.detail = detail_of(run, verdict.state);
    tile.port = printable(run.port);
    tile.adapter = printable(adapter);
    tile.identification = printable(run.identification);
    tile.step = printable(run.step);
    // A child's count is taken as it says; a bar never goes outside its range.
    tile.records = std::clamp(run.records, 0, IMAGE_RECORD_COUNT);
    tile.records_text = std::to_string(tile.records) + "/" + std::to_string(IMAGE_RECORD_COUNT);
    if (download_started(run) && verdict.state != TileState::busy) {
        tile.elapsed = minutes_and_seconds(elapsed_seconds(run, now));
    }
    return tile;
}

std::string adapter_label(const AdapterIdentity& adapter) {
    if (!adapter.by_id.empty()) {
        return printable(adapter.by_id);
    }
    if (!adapter.serial_number.empty()) {
        return "USB serial " + printable(adapter.serial_number);
    }
    if (adapter.is_usb()) {
        return "USB " + printable(adapter.vendor_id) + ":" + printable(adapter.product_id);
    }
    return {};
}

TileRgb rgb_of(TileColour colour) {
    switch (colour) {
        case TileColour::amber:
            return {0xFF, 0xC8, 0x57};
        case TileColour::blue:
            return {0x9C, 0xC8, 0xF5};
        case TileColour::green:
            return {0x8F, 0xDB, 0x8F};
        case TileColour::red:
            return {0xF2, 0x8B, 0x82};
        case TileColour::grey:
            break;
    }
    return {0xD6, 0xD6, 0xD6};
}

std::string minutes_and_seconds(double seconds) {
    const long whole = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}
