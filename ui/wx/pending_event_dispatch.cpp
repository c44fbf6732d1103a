#include "ui/wx/pending_event_dispatch.h"

#include <wx/app.h>
#include <wx/evtloop.h>

namespace {

// A bound on events handled per call: a source that is always ready (an idle handler asking
// for more) must not keep the wait from looking at the line again.
constexpr int MAX_EVENTS_PER_CALL = 64;
constexpr unsigned long IDLE_WAIT_MS = 1;

}  // namespace

void dispatch_pending_wx_events() {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop == nullptr) {
        return;
    }
    int handled = 0;
    while (handled < MAX_EVENTS_PER_CALL && loop->Pending()) {
        loop->Dispatch();
        ++handled;
    }
    if (wxTheApp != nullptr) {
        wxTheApp->ProcessPendingEvents();
    }
    if (handled == 0) {
        loop->DispatchTimeout(IDLE_WAIT_MS);
    }
}
