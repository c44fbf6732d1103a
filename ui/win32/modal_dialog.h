#pragma once

#include <windows.h>

// A modal dialog built from a dialog template, in the manner of an application framework's
// dialog class: the dialog procedure forwards to virtual handlers of the object, OK ends the
// dialog with 1 and Cancel with 2 unless a subclass decides otherwise.
class ModalDialog {
  public:
    // parent nullptr: the program's main dialog becomes the owner (if there is one by then).
    ModalDialog(int template_id, HWND parent);
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Runs the dialog until it ends; returns its result, or -1 when it could not be created.
    INT_PTR DoModal();
    HWND hwnd() const { return hwnd_; }

    // The program's main dialog: the default owner of every other dialog.
    static void set_main_dialog(ModalDialog* dialog) { main_dialog_ = dialog; }
    static ModalDialog* main_dialog() { return main_dialog_; }

  protected:
    // Return TRUE to let the dialog manager set the initial focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Any message (commands included) before the OK/Cancel defaults; true when handled, with
    // the dialog procedure's result in *result.
    virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result);

    void EndDialog(int code) { ::EndDialog(hwnd_, code); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }
    static HINSTANCE module() { return GetModuleHandleA(nullptr); }

  private:
    static INT_PTR CALLBACK dialog_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    BOOL initialise(HWND hwnd);
    void center_over_owner();

    static ModalDialog* main_dialog_;
    int template_id_;
    HWND parent_;
    HWND hwnd_ = nullptr;
};
