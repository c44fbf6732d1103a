// korvan-station.exe: the station of korvan-download-cli in a window of its own.

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <sstream>
#include <string>

#include "ui/station/sibling_program.h"
#include "ui/station/station_options.h"
#include "ui/station/win32/station_window.h"
#include "ui/win32/command_line_text.h"

namespace {

constexpr const char* CAPTION = "Korvan Download Station";

int run_window(const StationOptions& options, int show) {
    StationWindow window(station_settings(options, sibling_program_path("korvan-download-cli")));
    std::string error;
    if (!window.open(show, error)) {
        show_command_line_text("korvan-station: " + error + "\n", true, CAPTION);
        return 1;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // Tab moves between the buttons and the tiles as in a dialog.
        if (!IsDialogMessageA(window.hwnd(), &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return window.exit_status();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    InitCommonControls();
    std::ostringstream out;
    std::ostringstream err;
    int exit_code = 0;
    const std::optional<StationOptions> options =
        parse_station_options(__argc, __argv, out, err, exit_code);
    show_command_line_text(out.str(), false, CAPTION);
    show_command_line_text(err.str(), true, CAPTION);
    if (!options) {
        return exit_code;
    }
    return run_window(*options, show);
}
