#include "ui/download_file_prompt.h"

#include <string_view>

#include "engine/download_host.h"
#include "engine/download_path.h"

void DownloadFilePrompt::confirm() {
    const std::string text = path_field_text();
    set_current_download_path(text.c_str());
    if (text.empty()) {
        beep();
        focus_path_field();
        return;
    }
    end_prompt(DIALOG_RESULT_OK);
}

void DownloadFilePrompt::take_chosen_file(const char* path) {
    set_current_download_path(path);
    set_path_field_text(path);  // the whole path, even one too long to use
}

std::string download_file_filter(char separator) {
    std::string_view entries = DOWNLOAD_FILE_FILTER;
    entries.remove_suffix(2);  // the "||" that ends the list
    std::string filter(entries);
    for (char& c : filter) {
        if (c == '|') {
            c = separator;
        }
    }
    return filter;
}

int prompt_result(long long modal_result) {
    return modal_result == DIALOG_RESULT_OK ? DIALOG_RESULT_OK : DIALOG_RESULT_CANCEL;
}
