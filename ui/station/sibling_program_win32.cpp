#include "ui/station/sibling_program.h"

#include <windows.h>

#include <filesystem>
#include <vector>

std::string sibling_program_path(const std::string& name) {
    std::vector<wchar_t> own(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
        if (length == 0) {
            return {};
        }
        if (length < own.size()) {
            own.resize(length);
            break;
        }
        own.resize(own.size() * 2);
    }
    const std::filesystem::path folder =
        std::filesystem::path(own.begin(), own.end()).parent_path();
    return (folder / (name + ".exe")).string();
}
