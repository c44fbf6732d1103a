#include "ui/wx/wx_text.h"

#include <cstring>

wxString to_wx_text(const char* text) {
    wxString converted = wxString::FromUTF8(text);
    if (converted.empty() && *text != '\0') {
        converted = wxString::From8BitData(text, std::strlen(text));
    }
    return converted;
}

std::string to_native_path(const wxString& path) {
    wxCharBuffer bytes = path.fn_str();
    return bytes.data() != nullptr ? std::string(bytes.data()) : std::string();
}
