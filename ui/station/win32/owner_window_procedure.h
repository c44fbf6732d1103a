#pragma once

#include <windows.h>

// The window procedure of a window class whose every window belongs to one Owner object,
// the creation parameter given to CreateWindowEx: from WM_NCCREATE on, Owner::attach(hwnd)
// has told the object its window and Owner::handle gets each message. Owner makes this a
// friend to keep both private.
template <class Owner>
LRESULT CALLBACK owner_window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<Owner*>(create->lpCreateParams)->attach(hwnd);
    }
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (owner == nullptr) {
        return DefWindowProcA(hwnd, message, wparam, lparam);
    }
    return owner->handle(message, wparam, lparam);
}
