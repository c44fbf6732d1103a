#include "ui/win32/modal_dialog.h"

ModalDialog* ModalDialog::main_dialog_ = nullptr;

ModalDialog::ModalDialog(int template_id, HWND parent)
    : template_id_(template_id), parent_(parent) {}

INT_PTR ModalDialog::DoModal() {
    HWND owner = parent_;
    if (owner == nullptr && main_dialog_ != nullptr && main_dialog_ != this) {
        owner = main_dialog_->hwnd();
    }
    INT_PTR result = DialogBoxParamA(module(), MAKEINTRESOURCEA(template_id_), owner,
                                     dialog_procedure, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

bool ModalDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) {
    return false;
}

INT_PTR CALLBACK ModalDialog::dialog_procedure(HWND hwnd, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<ModalDialog*>(lparam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
        return dialog->initialise(hwnd);
    }
    auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT and the like)
    }
    return dialog->handle_message(message, wparam, lparam);
}

BOOL ModalDialog::initialise(HWND hwnd) {
    hwnd_ = hwnd;
    RECT before{};
    GetWindowRect(hwnd_, &before);
    BOOL result = OnInitDialog();
    RECT after{};
    GetWindowRect(hwnd_, &after);
    // Like a framework dialog: centred over its owner (or the screen) unless it placed itself.
    if (EqualRect(&before, &after)) {
        center_over_owner();
    }
    return result;
}

void ModalDialog::center_over_owner() {
    RECT area{};
    HWND owner = GetWindow(hwnd_, GW_OWNER);
    if (owner == nullptr || IsIconic(owner) || !IsWindowVisible(owner)) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    } else {
        GetWindowRect(owner, &area);
    }
    RECT self{};
    GetWindowRect(hwnd_, &self);
    int width = self.right - self.left;
    int height = self.bottom - self.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR ModalDialog::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    INT_PTR result = FALSE;
    if (OnMessage(message, wparam, lparam, &result)) {
        return result;
    }
    if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
        switch (LOWORD(wparam)) {
            case IDOK:
                OnOK();
                return TRUE;
            case IDCANCEL:
                OnCancel();
                return TRUE;
            default:
                break;
        }
    }
    return FALSE;
}
