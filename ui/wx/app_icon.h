#pragma once

#include <wx/icon.h>

// Icon 143: the 32 by 32 picture of both windows, a modem receiving a download.
wxIcon make_app_icon();
