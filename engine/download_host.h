#pragma once

#include <cstdint>

// What the download engine asks of the program hosting it (the window or the console).
// The engine never touches a widget; every message reaches the user through these.
class DownloadHost {
  public:
    virtual ~DownloadHost() = default;

    // The status line shows exactly text.
    virtual void show_status(const char* text) = 0;
    // As show_status, then the thread sleeps ms milliseconds without dispatching anything.
    virtual void show_status_and_wait(const char* text, std::uint32_t ms) = 0;
    // As show_status, then one beep, then Exit becomes enabled. Ends every run.
    virtual void report_outcome(const char* text) = 0;
    virtual void show_progress(bool visible) = 0;
    // Position 0..224, one step per image record.
    virtual void set_progress(int position) = 0;
    // Enables the Close command again once the run has ended.
    virtual void enable_close() = 0;
    // Ends the progress window (and so the program) with code once the current step returns.
    virtual void end_window(int code) = 0;
    // Runs the download file prompt: 1 (OK, the current download path holds the answer)
    // or 2 (Cancel).
    virtual int prompt_download_file() = 0;

    // The window timer that drives the sequencer: one tick period_ms after being armed.
    virtual void start_timer(unsigned timer_id, unsigned period_ms) = 0;
    virtual void stop_timer(unsigned timer_id) = 0;
};

// The display operations whose order the engine relies on, written once over the few
// primitives a toolkit provides. The program's hosts derive from this.
class ToolkitHost : public DownloadHost {
  public:
    void show_status(const char* text) final;
    // The pause runs on port_clock(), the run's one clock, and dispatches nothing.
    void show_status_and_wait(const char* text, std::uint32_t ms) final;
    // Text, then the beep, then Exit: the user hears the outcome that is already shown.
    void report_outcome(const char* text) final;

  protected:
    // The status line shows exactly text, painted before any pause that follows.
    virtual void set_status_text(const char* text) = 0;
    // The system's simple beep.
    virtual void beep() = 0;
    // Lets the user leave: the run has its outcome.
    virtual void enable_exit() = 0;
};

// Dialog results.
inline constexpr int DIALOG_RESULT_OK = 1;
inline constexpr int DIALOG_RESULT_CANCEL = 2;
