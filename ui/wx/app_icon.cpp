#include "ui/wx/app_icon.h"

#include "korvan_icon_xpm.h"

wxIcon make_app_icon() {
    return wxIcon(korvan_icon_xpm);
}
