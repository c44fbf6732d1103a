#pragma once

#include <wx/app.h>

// Starts the program: runs the progress window modally and ends the process when it returns.
class CDownloadApp : public wxApp {
  public:
    bool OnInit() override;
};

wxDECLARE_APP(CDownloadApp);
