// Waits for a change announced through an event, while handling messages sent to the thread.
// Used inside the harness by TrayRecorder, BoxWatcher and DoubleState (WaitPumpingSent is in harness.h).
#pragma once

#include "harness.h"

namespace harness {

// Waits until ready() returns true. changed is a manual-reset event that is set after every
// change that can make ready() true; ready() takes whatever lock it needs itself.
bool WaitForChange(HANDLE changed, const std::function<bool()>& ready, DWORD timeoutMs);

}  // namespace harness
