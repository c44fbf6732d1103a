#include "ui/win32/message_pump.h"

#include <windows.h>

namespace {

// How long an idle poll may wait for the next message: the port layer polls the line as
// fast as it can, and without a pause the thread (and under Wine also wineserver) would
// hold a core for the whole of every wait for the modem.
constexpr DWORD IDLE_WAIT_MS = 1;

}  // namespace

void dispatch_window_messages() {
    MSG message;
    bool dispatched = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        dispatched = true;
    }
    if (!dispatched) {
        MsgWaitForMultipleObjectsEx(0, nullptr, IDLE_WAIT_MS, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}
