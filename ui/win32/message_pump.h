#pragma once

// The window's idle hook for the port layer's waits: takes every pending message of the
// thread out of its queue and dispatches it, a quit message included, then returns.
void dispatch_window_messages();
