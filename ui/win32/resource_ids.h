#pragma once

// Identifiers shared by the resource script and the dialog code. Plain macros, because the
// resource compiler reads this header too.

#define IDD_DOWNLOAD_DIALOG 102
#define IDD_DOWNLOAD_FILE_DIALOG 141
#define IDI_DOWNLOAD_ICON 143

// Progress window.
#define IDC_STATUS_LINE 1001
#define IDC_PROGRESS_BAR 1002
#define IDC_EXIT 1008

// Download file prompt (OK and Cancel are the dialog manager's IDOK 1 and IDCANCEL 2).
#define IDC_PATH_FIELD 1005
#define IDC_BROWSE 3
