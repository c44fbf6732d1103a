#pragma once

// Ids of the two windows and their controls, as the dialog templates number them, shared by
// both toolkits and the resource script. Plain macros, because the resource compiler reads
// this header too.

#define IDD_DOWNLOAD_DIALOG 102
#define IDD_DOWNLOAD_FILE_DIALOG 141
#define IDI_DOWNLOAD_ICON 143

// Progress window.
#define IDC_STATUS_LINE 1001
#define IDC_PROGRESS_BAR 1002
#define IDC_EXIT 1008

// Download file prompt (OK and Cancel are the dialog results 1 and 2).
#define IDC_PATH_FIELD 1005
#define IDC_BROWSE 3

#ifndef RC_INVOKED
#include "engine/download_image.h"

// Range of the progress bar: one step per image record.
inline constexpr int PROGRESS_RANGE = IMAGE_RECORD_COUNT;
#endif
