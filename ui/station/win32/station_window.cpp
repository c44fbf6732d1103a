#include "ui/station/win32/station_window.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "engine/download_image.h"
#include "ui/station/details_model.h"
#include "ui/station/header_model.h"
#include "ui/station/station_options.h"
#include "ui/station/tile_model.h"

namespace {

constexpr const char* CLASS_NAME = "KorvanStationWindow";
constexpr const char* TITLE = "Korvan Download Station";
constexpr int IDI_STATION_ICON = 143;

constexpr UINT_PTR STEP_TIMER = 1;
// A step never blocks, so the tick only sets how soon a child's output is read: 50 ms is
// well inside what an operator notices and keeps the window's share of a core small.
constexpr UINT STEP_MS = 50;
// The tiles' elapsed times move on even when no child says anything.
constexpr ULONGLONG REFRESH_MS = 500;
constexpr ULONGLONG CHANGE_REFRESH_MS = 200;

enum ControlId : int {
    IDC_PAUSE = 2001,
    IDC_DETAILS = 2002,
    IDC_CLOSE = 2003,
    IDC_TILES = 2004,
};

constexpr int MARGIN = 8;
constexpr int HEADER_LINE = 20;
constexpr int BUTTON_WIDTH = 96;
constexpr int BUTTON_HEIGHT = 28;

HWND make_child(HWND parent, const char* window_class, const char* text, DWORD style, int id,
                HFONT font) {
    HWND child = CreateWindowExA(0, window_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleA(nullptr), nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return child;
}

// Darker than the tile's shade, so the bar stands out on it.
COLORREF bar_colour(TileRgb shade) {
    return RGB(shade.red * 3 / 5, shade.green * 3 / 5, shade.blue * 3 / 5);
}

void set_text(HWND control, const std::string& text) {
    char current[512] = {};
    GetWindowTextA(control, current, sizeof current);
    if (text != current) {  // unchanged text is not repainted: no flicker at every tick
        SetWindowTextA(control, text.c_str());
    }
}

}  // namespace

StationWindow::StationWindow(StationSettings settings) : station_(std::move(settings), *this) {}

bool StationWindow::open(int show, std::string& error) {
    images_ = check_image_source(station_.settings().image_path);
    if (!images_.problem.empty()) {
        error = images_.problem;
        return false;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    icon_ = LoadIconA(instance, MAKEINTRESOURCEA(IDI_STATION_ICON));
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = owner_window_procedure<StationWindow>;
    window_class.hInstance = instance;
    window_class.hIcon = icon_;
    window_class.hIconSm = icon_;
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = CLASS_NAME;
    if (RegisterClassExA(&window_class) == 0) {
        error = "cannot register the window class";
        return false;
    }
    // As large as an operator's screen usually is, and never larger than the one there is.
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int width = std::min(1280, static_cast<int>(work.right - work.left));
    const int height = std::min(1024, static_cast<int>(work.bottom - work.top));
    hwnd_ = CreateWindowExA(WS_EX_CONTROLPARENT, CLASS_NAME, TITLE,
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, work.left, work.top, width,
                            height, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) {
        error = "cannot create the window";
        return false;
    }
    started_ = std::chrono::steady_clock::now();
    if (!station_.start(error)) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
        return false;
    }
    refresh();
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    SetTimer(hwnd_, STEP_TIMER, STEP_MS, nullptr);
    return true;
}

LRESULT StationWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            make_controls();
            return 0;
        case WM_SIZE:
            lay_out();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
            limits->ptMinTrackSize = POINT{480, 360};
            return 0;
        }
        case WM_TIMER:
            if (wparam == STEP_TIMER) {
                on_tick();
            }
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDC_PAUSE:
                    toggle_pause();
                    return 0;
                case IDC_DETAILS:
                    show_details();
                    return 0;
                case IDC_CLOSE:
                    request_close();
                    return 0;
                case IDC_TILES:
                    if (HIWORD(wparam) == TilePanel::TILE_OPENED) {
                        show_details();
                    }
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CLOSE:  // the close box, Alt+F4, the system menu
            request_close();
            return 0;
        case WM_QUERYENDSESSION:  // logging off, shutting down
            return session_may_end() ? TRUE : FALSE;
        case WM_DESTROY:
            ShutdownBlockReasonDestroy(hwnd_);
            KillTimer(hwnd_, STEP_TIMER);
            if (font_ != nullptr) {
                DeleteObject(font_);
                font_ = nullptr;
            }
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(hwnd_, message, wparam, lparam);
}

void StationWindow::make_controls() {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTA font{};
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        font = metrics.lfMessageFont;
    } else {
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    }
    font.lfHeight = -14;
    font_ = CreateFontIndirectA(&font);
    constexpr DWORD LINE_STYLE = SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS;
    image_line_ = make_child(hwnd_, "STATIC", "", LINE_STYLE, -1, font_);
    report_line_ = make_child(hwnd_, "STATIC", "", LINE_STYLE, -1, font_);
    totals_line_ = make_child(hwnd_, "STATIC", "", LINE_STYLE, -1, font_);
    state_line_ = make_child(hwnd_, "STATIC", "", LINE_STYLE, -1, font_);
    constexpr DWORD BUTTON_STYLE = BS_PUSHBUTTON | WS_TABSTOP;
    pause_button_ = make_child(hwnd_, "BUTTON", "&Pause", BUTTON_STYLE, IDC_PAUSE, font_);
    details_button_ = make_child(hwnd_, "BUTTON", "&Details", BUTTON_STYLE, IDC_DETAILS, font_);
    close_button_ = make_child(hwnd_, "BUTTON", "&Close", BUTTON_STYLE, IDC_CLOSE, font_);
    tiles_.create(hwnd_, IDC_TILES);
}

// The header's lines on the left, the buttons on its right, the tiles below, reflowed by the
// panel to the width it gets.
void StationWindow::lay_out() {
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int buttons_left = client.right - MARGIN - 3 * BUTTON_WIDTH - 2 * MARGIN;
    const int line_width = std::max(0, buttons_left - 2 * MARGIN);
    HWND lines[] = {image_line_, report_line_, totals_line_, state_line_};
    int y = MARGIN;
    for (HWND line : lines) {
        MoveWindow(line, MARGIN, y, line_width, HEADER_LINE, TRUE);
        y += HEADER_LINE;
    }
    HWND buttons[] = {pause_button_, details_button_, close_button_};
    int x = buttons_left;
    for (HWND button : buttons) {
        MoveWindow(button, x, MARGIN, BUTTON_WIDTH, BUTTON_HEIGHT, TRUE);
        x += BUTTON_WIDTH + MARGIN;
    }
    const int tiles_top = y + MARGIN;
    MoveWindow(tiles_.hwnd(), 0, tiles_top, client.right,
               std::max(0, static_cast<int>(client.bottom) - tiles_top), TRUE);
    // A moved button may keep bits copied from where it was, half drawn, after a resize by
    // the frame: everything is drawn afresh instead.
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void StationWindow::on_tick() {
    station_.step(0);
    beep_new_outcomes();
    close_when_done();
    if (hwnd_ == nullptr) {
        return;
    }
    // The station tells of a change at nearly every step: redrawn at most a few times a
    // second, which the eye takes for smooth and which keeps 32 tiles cheap.
    const ULONGLONG since = GetTickCount64() - last_refresh_;
    if (since >= (changed_ ? CHANGE_REFRESH_MS : REFRESH_MS)) {
        refresh();
    }
}

// One beep per outcome, whoever ended the run (its child, the station, a crash): the counts
// only grow, so a tick that ended two runs beeps for the worse of them.
void StationWindow::beep_new_outcomes() {
    const int flashed = station_.flashed_count();
    const int completed = station_.completed_count();
    if (flashed == flashed_seen_) {
        return;
    }
    const bool any_failed = flashed - flashed_seen_ > completed - completed_seen_;
    MessageBeep(any_failed ? MB_ICONHAND : MB_OK);
    flashed_seen_ = flashed;
    completed_seen_ = completed;
    changed_ = true;
}

void StationWindow::refresh() {
    refresh_header();
    refresh_tiles();
    changed_ = false;
    last_refresh_ = GetTickCount64();
}

void StationWindow::request_close() {
    if (closing_ || asking_) {
        return;
    }
    const int running = station_.running_count();
    if (running > 0) {
        asking_ = true;
        const int answer = ask(close_question(running, station_.modems_in_progress()),
                               MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1);
        asking_ = false;
        if (answer != IDYES) {
            return;
        }
    }
    closing_ = true;
    station_.stop_when_idle();
    changed_ = true;
    close_when_done();
}

// The end of the session would end the flashes with it: Windows is asked to wait, with the
// reason shown to the person logging off, and the window closes once they are done.
bool StationWindow::session_may_end() {
    if (station_.running_count() == 0) {
        return true;
    }
    ShutdownBlockReasonCreate(hwnd_,
                              L"Modems are being flashed. A flash cut short can leave a "
                              L"modem without working firmware.");
    closing_ = true;
    station_.stop_when_idle();
    changed_ = true;
    return false;
}

// A message box of the window's own: the timer goes on inside it, so the flashes do too.
int StationWindow::ask(const std::string& text, UINT style) {
    ++open_boxes_;
    const int answer = MessageBoxA(hwnd_, text.c_str(), TITLE, style);
    --open_boxes_;
    return answer;
}

void StationWindow::close_when_done() {
    if (closing_ && open_boxes_ == 0 && station_.finished()) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

void StationWindow::toggle_pause() {
    station_.set_paused(!station_.paused());
    SetWindowTextA(pause_button_, station_.paused() ? "&Resume" : "&Pause");
    changed_ = true;
    refresh();
}

void StationWindow::show_event(const PortRun&, const nlohmann::ordered_json&) {
    changed_ = true;
}

void StationWindow::show_note(const std::string& port, const std::string& text) {
    notes_[port] = text;
    changed_ = true;
}

void StationWindow::show_modem_gone(const std::string&) {
    changed_ = true;
}

void StationWindow::show_ports(const std::vector<const PortRun*>&) {
    changed_ = true;
}

// The chosen tile's port: its last final message, the report line's fields and the trace.
void StationWindow::show_details() {
    const std::vector<const PortRun*> runs = station_.current_runs();
    const int index = tiles_.selected();
    if (index < 0 || index >= static_cast<int>(runs.size())) {
        ask("Choose a tile first: click it, or double-click it to see its details at once.",
            MB_OK | MB_ICONINFORMATION);
        return;
    }
    const std::string port = runs[index]->port;
    const auto note = notes_.find(port);
    ask(details_text(port, adapters_.label_of(*runs[index]),
                     last_run_of(station_.last_runs(), port),
                     note == notes_.end() ? "" : note->second),
        MB_OK | MB_ICONINFORMATION);
}

void StationWindow::refresh_header() {
    const Header header = header_of(
        header_facts(station_, images_, started_, closing_, static_cast<int>(STATION_MAX_TILES)));
    set_text(image_line_, header.image);
    set_text(report_line_, header.report);
    set_text(totals_line_, header.totals);
    set_text(state_line_, header.state);
}

void StationWindow::refresh_tiles() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<TilePicture> pictures;
    for (const PortRun* run : station_.current_runs()) {
        // 16 at once on a 1280x1024 screen, the rest by scrolling; the header counts the
        // ports beyond them, which --all-ports can find.
        if (pictures.size() == STATION_MAX_TILES) {
            break;
        }
        const Tile tile = tile_of(*run, adapters_.label_of(*run), now);
        const TileRgb shade = rgb_of(tile.colour);
        TilePicture picture;
        picture.lines.push_back(tile.adapter.empty() ? tile.port
                                                     : tile.port + "   " + tile.adapter);
        picture.lines.push_back(tile.identification);
        picture.lines.push_back(tile.step);
        picture.lines.push_back(tile.detail);
        picture.lines.push_back(tile.records_text +
                                (tile.elapsed.empty() ? "" : "   " + tile.elapsed));
        picture.word = tile.word;
        picture.shade = RGB(shade.red, shade.green, shade.blue);
        picture.bar = bar_colour(shade);
        picture.records = tile.records;
        picture.record_range = IMAGE_RECORD_COUNT;
        pictures.push_back(std::move(picture));
    }
    tiles_.set_tiles(std::move(pictures));
}
