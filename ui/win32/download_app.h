#pragma once

#include <windows.h>

// The application: builds the progress window, runs it modally and ends the program when it
// ends. One instance exists for the whole process.
class CDownloadApp {
  public:
    // Returns FALSE: the program has no message loop of its own after the window.
    BOOL InitInstance();
};

extern CDownloadApp theApp;
