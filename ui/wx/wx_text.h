#pragma once

#include <string>

#include <wx/string.h>

// The engine's texts and paths are 8-bit: UTF-8 where they are valid UTF-8, else taken byte
// for byte, so no text ever shows up empty.
wxString to_wx_text(const char* text);
// A path as the file system spells it.
std::string to_native_path(const wxString& path);
