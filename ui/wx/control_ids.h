#pragma once

// Ids of the two windows and their controls, as the dialog templates number them.
inline constexpr int PROGRESS_WINDOW_ID = 102;
inline constexpr int STATUS_LINE_ID = 1001;
inline constexpr int PROGRESS_BAR_ID = 1002;
inline constexpr int EXIT_BUTTON_ID = 1008;

inline constexpr int FILE_PROMPT_ID = 141;
inline constexpr int PATH_FIELD_ID = 1005;
inline constexpr int BROWSE_BUTTON_ID = 3;

// Range of the progress bar: one step per image record.
inline constexpr int PROGRESS_RANGE = 224;
