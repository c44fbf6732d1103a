#pragma once

#include <string>

// What the download file prompt decides, whatever toolkit draws it. Each toolkit's prompt
// derives from this, supplies the primitives and calls confirm() on OK and
// take_chosen_file() when Browse returns a file.
class DownloadFilePrompt {
  public:
    virtual ~DownloadFilePrompt() = default;

  protected:
    // OK: the field's whole text becomes the current download path. An empty field is not an
    // answer: a beep, the focus back in the field, and the prompt stays open.
    void confirm();
    // A file chosen with Browse is the current download path at once and shows, whole, in
    // the field; the prompt stays open until OK.
    void take_chosen_file(const char* path);

    virtual std::string path_field_text() = 0;
    virtual void set_path_field_text(const char* text) = 0;
    virtual void focus_path_field() = 0;
    virtual void beep() = 0;
    virtual void end_prompt(int result) = 0;
};

// The chooser's filter in the framework's notation: label|pattern pairs, ended by "||".
inline constexpr char DOWNLOAD_FILE_FILTER[] = "Download Files (*.dl)|*.dl|All Files (*.*)|*.*||";

// The filter's labels and patterns, in order, with separator between them and nothing after
// the last pattern.
std::string download_file_filter(char separator);

// What a prompt's modal run answers the sequencer: OK only when the prompt ended with OK;
// anything else, a prompt that could not even be shown included, is Cancel.
int prompt_result(long long modal_result);
