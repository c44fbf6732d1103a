#pragma once

// The window's idle hook for the port layer's waits: takes every pending message of the
// thread out of its queue and dispatches it, a quit message included, then returns. When
// there was none it first waits up to 1 ms for one, so a wait for the modem does not keep
// a core busy.
void dispatch_window_messages();
