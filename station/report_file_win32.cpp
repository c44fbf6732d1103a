#include <windows.h>

#include "station/report_file.h"

namespace {

// Every station locks this byte, far beyond any report's end, while it appends: a lock on
// the data itself would refuse the reads and writes of other programs.
constexpr DWORD LOCK_OFFSET_HIGH = 0x7FFFFFFF;

bool fail_with(DWORD code, std::string& error) {
    error = "error " + std::to_string(code);
    return false;
}

OVERLAPPED at(LONGLONG offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

bool ends_a_line(HANDLE file, LONGLONG size) {
    if (size == 0) {
        return true;
    }
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED position = at(size - 1);
    return !ReadFile(file, &last, 1, &got, &position) || got != 1 || last == '\n';
}

// Cuts the part of a line the last write left, unless the file grew behind it since.
void take_back(HANDLE file, LONGLONG size_before, DWORD written) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart == size_before + written) {
        LARGE_INTEGER end{};
        end.QuadPart = size_before;
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
    }
}

bool append_locked(HANDLE file, const std::string& line, std::string& error) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        return fail_with(GetLastError(), error);
    }
    const std::string text = ends_a_line(file, size.QuadPart) ? line : "\n" + line;
    // Both offsets all ones: the write goes to the end of the file as it is then.
    OVERLAPPED end_of_file{};
    end_of_file.Offset = 0xFFFFFFFF;
    end_of_file.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, &end_of_file)) {
        const DWORD code = GetLastError();
        take_back(file, size.QuadPart, written);
        return fail_with(code, error);
    }
    if (written < text.size()) {
        take_back(file, size.QuadPart, written);
        error = "the file took only " + std::to_string(written) + " of " +
                std::to_string(text.size()) + " bytes (disk full?)";
        return false;
    }
    return FlushFileBuffers(file) || fail_with(GetLastError(), error);
}

}  // namespace

bool append_line_durably(const std::string& path, const std::string& line, std::string& error) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return fail_with(GetLastError(), error);
    }
    OVERLAPPED lock_byte{};
    lock_byte.OffsetHigh = LOCK_OFFSET_HIGH;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock_byte) != FALSE;
    const bool appended = append_locked(file, line, error);
    if (locked) {
        UnlockFileEx(file, 0, 1, 0, &lock_byte);
    }
    CloseHandle(file);
    return appended;
}
