#pragma once

// Hands the toolkit's pending events to their windows, so the window repaints, moves and
// answers while the port layer waits for the modem; when nothing was pending it waits up to
// one millisecond for the next event, so a long wait does not keep a core busy.
void dispatch_pending_wx_events();
