#pragma once

#include <windows.h>

// The application: builds the progress window, runs it modally and ends the program when it
// ends. One instance exists for the whole process.
class CDownloadApp {
  public:
    // Returns FALSE: the program has no message loop of its own after the window.
    BOOL InitInstance();

    // How the progress window ended (1 OK, 2 Cancel, -1 not shown); the exit status, which
    // tells a script how the user left.
    int result() const { return result_; }

  private:
    int result_ = -1;
};

extern CDownloadApp theApp;
