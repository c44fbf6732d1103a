// korvan-station: the station in a window, one tile per port, for the operator at the bench.
#include <iostream>
#include <optional>
#include <string>

#include <wx/app.h>
#include <wx/msgdlg.h>

#include "station/interrupts.h"
#include "tools/download_cli/terminal.h"
#include "ui/station/image_source.h"
#include "ui/station/sibling_program.h"
#include "ui/station/station_options.h"
#include "ui/station/wx/station_frame.h"

namespace {

// Exit status when the station cannot run at all (an image that is not valid, no port), as
// the console station's.
constexpr int STATION_FAILED = 1;

StationOptions options;
// 0 when every flash completed and every report line was written, else 1.
int exit_status = 0;

// Said where the operator looks: the window and standard error.
void say_failure(const std::string& text) {
    std::cerr << "korvan-station: " << text << '\n';
    wxMessageBox(wxString::FromAscii(text.c_str()), "Korvan Download Station", wxOK | wxICON_ERROR);
}

class StationApp : public wxApp {
  public:
    bool OnInit() override {
        const ImageSource images = check_image_source(options.image_path);
        if (!images.problem.empty()) {
            say_failure(images.problem);
            exit_status = STATION_FAILED;
            return false;
        }
        auto* frame = new StationFrame(options, images, sibling_program_path("korvan-download-cli"),
                                       exit_status);
        std::string error;
        if (!frame->start(error)) {
            say_failure(error);
            frame->Destroy();
            exit_status = STATION_FAILED;
            return false;
        }
        frame->Show();
        return true;
    }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(StationApp);

// The command line is read before the toolkit starts, so --help and --version work without a
// display.
int main(int argc, char** argv) {
    int exit_code = 0;
    std::optional<StationOptions> parsed =
        parse_station_options(argc, argv, std::cout, std::cerr, exit_code);
    if (!parsed) {
        return exit_code;
    }
    options = *parsed;
    // A termination request becomes the window's close: the flashes running finish first.
    defer_interrupts(SecondCtrlC::is_noted);
    keep_running_when_output_closes();
    // The toolkit sees no options of ours.
    int toolkit_argc = 1;
    char* program_only[] = {argv[0], nullptr};
    wxEntry(toolkit_argc, program_only);
    return exit_status;
}
