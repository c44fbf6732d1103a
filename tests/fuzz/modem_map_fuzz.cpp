// The modem map reader on any file text, read in pieces of any size, against any
// identification.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/modem_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string reply = input.ConsumeRandomLengthString(259);
    const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 700);
    const std::string map_text = input.ConsumeRemainingBytesAsString();

    const auto entries = parse_modem_map(map_text);
    for (const ModemMapEntry& entry : entries) {
        if (entry.model_text.empty() || entry.image_path.empty() ||
            entry.model_text.size() > MODEM_MAP_PIECE_MAX ||
            entry.image_path.size() > MODEM_MAP_PIECE_MAX) {
            std::abort();
        }
    }

    // Read as a file is, a few bytes at a time: the same first match as the whole text.
    std::string_view rest = map_text;
    ModemMapReader file([&rest, chunk](char* buffer, std::size_t size) {
        const std::size_t n = rest.copy(buffer, std::min(size, chunk));
        rest.remove_prefix(n);
        return n;
    });
    const auto found = find_modem_image(file, reply);
    std::optional<std::string> expected;
    for (const ModemMapEntry& entry : entries) {
        if (reply.find(entry.model_text) != std::string::npos) {
            expected = entry.image_path;
            break;
        }
    }
    if (found != expected) {
        std::abort();
    }
    return 0;
}
