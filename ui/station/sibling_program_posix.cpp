#include "ui/station/sibling_program.h"

#include <filesystem>
#include <system_error>

std::string sibling_program_path(const std::string& name) {
    std::error_code error;
    std::string own = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (error || own.empty()) {
        return {};
    }
    // A package upgrade that replaced the running file leaves this mark on its old path;
    // the folder is still the one the new programs are in.
    const std::string replaced = " (deleted)";
    if (own.size() > replaced.size() &&
        own.compare(own.size() - replaced.size(), replaced.size(), replaced) == 0) {
        own.resize(own.size() - replaced.size());
    }
    return (std::filesystem::path(own).parent_path() / name).string();
}
