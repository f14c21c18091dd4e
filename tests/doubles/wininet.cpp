// Test double of WinInet's connected-state calls, driven and observed through the shared state block.
// Loaded by Corvalent.exe under test and in scripts/run.sh (DLL override wininet=native), and by the harness self-test.
#include <windows.h>
// wininet.h declares these functions as imports; here they are defined and exported (wininet.def).
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT
#include <wininet.h>

#include "state_view.h"

// The state of this process when no test has created a state block: it starts online and
// connected, and keeps what the process sets for as long as the library stays loaded, as the
// system's WinInet keeps the offline state (what a run of the program outside the tests needs).
static WinInetDoubleState OnlineAndConnected() {
  WinInetDoubleState state = {};
  state.connectedState = INTERNET_STATE_CONNECTED;
  state.connected = TRUE;
  state.connectionFlags = INTERNET_CONNECTION_LAN;
  return state;
}

static WinInetDoubleState ownState = OnlineAndConnected();

static WinInetDoubleState* StateOf(StateView& view) {
  return view.block ? &view.block->wininet : &ownState;
}

static void Report(WinInetDoubleState* state, LONG kinds) {
  if (kinds) CountViolation(&state->violationCount, &state->violationKinds, kinds);
}

static LONG CheckHandleAndOption(HINTERNET hInternet, DWORD dwOption) {
  LONG kinds = 0;
  if (hInternet) kinds |= VIOLATION_HANDLE;
  if (dwOption != INTERNET_OPTION_CONNECTED_STATE) kinds |= VIOLATION_OPTION;
  return kinds;
}

// The kinds of violation after which the call cannot go on.
static const LONG UNUSABLE_CALL = VIOLATION_OPTION | VIOLATION_BUFFER | VIOLATION_LENGTH;

BOOL WINAPI InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                 LPDWORD lpdwBufferLength) {
  StateView view;
  WinInetDoubleState* state = StateOf(view);
  InterlockedIncrement(&state->queryCount);

  LONG kinds = CheckHandleAndOption(hInternet, dwOption);
  if (!lpBuffer || !lpdwBufferLength) {
    kinds |= VIOLATION_BUFFER;
  } else {
    state->lastQueryLength = *lpdwBufferLength;
    if (*lpdwBufferLength < sizeof(DWORD)) kinds |= VIOLATION_LENGTH;
    else if (*static_cast<DWORD*>(lpBuffer) != 0) InterlockedIncrement(&state->unzeroedQueryCount);
  }
  Report(state, kinds);
  if (kinds & UNUSABLE_CALL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (state->queryFails) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  *static_cast<DWORD*>(lpBuffer) = state->connectedState;
  *lpdwBufferLength = sizeof(DWORD);
  return TRUE;
}

BOOL WINAPI InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                               DWORD dwBufferLength) {
  StateView view;
  WinInetDoubleState* state = StateOf(view);
  InterlockedIncrement(&state->setCount);
  state->lastSetLength = dwBufferLength;

  LONG kinds = CheckHandleAndOption(hInternet, dwOption);
  if (!lpBuffer) kinds |= VIOLATION_BUFFER;
  if (dwBufferLength != sizeof(INTERNET_CONNECTED_INFO)) kinds |= VIOLATION_LENGTH;
  if (lpBuffer && dwBufferLength >= sizeof(INTERNET_CONNECTED_INFO)) {
    const INTERNET_CONNECTED_INFO* info = static_cast<const INTERNET_CONNECTED_INFO*>(lpBuffer);
    state->lastSetState = info->dwConnectedState;
    state->lastSetFlags = info->dwFlags;
  }
  Report(state, kinds);
  if (kinds & UNUSABLE_CALL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (state->setFails) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  state->connectedState = state->lastSetState;
  return TRUE;
}

BOOL WINAPI InternetGetConnectedState(LPDWORD lpdwFlags, DWORD dwReserved) {
  StateView view;
  WinInetDoubleState* state = StateOf(view);
  InterlockedIncrement(&state->connectedCheckCount);

  LONG kinds = 0;
  if (!lpdwFlags) kinds |= VIOLATION_BUFFER;
  if (dwReserved != 0) kinds |= VIOLATION_RESERVED;
  Report(state, kinds);
  if (!lpdwFlags) return state->connected;
  state->lastFlagsOnEntry = *lpdwFlags;
  if (!state->leaveFlagsUntouched) *lpdwFlags = state->connectionFlags;
  return state->connected;
}
