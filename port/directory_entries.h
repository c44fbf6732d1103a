#pragma once

#include <filesystem>
#include <system_error>

// Calls visit for each entry of directory. Entries of /proc, /sys and /dev come and go while
// they are read (a process exits, a device is unplugged, udev removes a link): an entry that
// vanished ends the walk quietly instead of throwing.
template <typename Visit>
void for_each_directory_entry(const std::filesystem::path& directory, Visit visit) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        visit(*entry);
    }
}
