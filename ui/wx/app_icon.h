#pragma once

#include <wx/icon.h>

// Icon 143: the 32 by 32 picture of both windows (ui/korvan_icon.txt).
wxIcon make_app_icon();
