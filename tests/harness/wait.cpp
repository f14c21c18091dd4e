// Waits with a timeout while still handling messages sent to the waiting thread's windows.
// Used by every wait of the harness (records, boxes, the doubles, windows, process exit) and by tests.
#include "wait.h"

namespace harness {

static DWORD Remaining(ULONGLONG deadline) {
  ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

DWORD WaitPumpingSent(HANDLE handle, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  DWORD count = handle ? 1 : 0;
  for (;;) {
    DWORD result = MsgWaitForMultipleObjectsEx(count, &handle, Remaining(deadline), QS_SENDMESSAGE, 0);
    if (count && result == WAIT_OBJECT_0) return WAIT_OBJECT_0;
    if (result != WAIT_OBJECT_0 + count) return WAIT_TIMEOUT;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

bool WaitUntil(const std::function<bool()>& condition, HANDLE stopWhenSignalled, DWORD timeoutMs) {
  const DWORD kPollMs = 20;
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    if (WaitPumpingSent(stopWhenSignalled, kPollMs) == WAIT_OBJECT_0) return condition();
  }
  return true;
}

bool WaitForChange(HANDLE changed, const std::function<bool()>& ready, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    // Reset before looking, so a change made after the look still wakes the wait.
    ResetEvent(changed);
    if (ready()) return true;
    DWORD remaining = Remaining(deadline);
    if (remaining == 0) return false;
    WaitPumpingSent(changed, remaining);
  }
}

}  // namespace harness
