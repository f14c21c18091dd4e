// Test double of the two dial-up networking calls, with connections set up through the shared state block.
// Loaded by Corvalent.exe under test (WINEDLLOVERRIDES=rasapi32=n) and by the harness self-test.
#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include "ras_records.h"
#include "state_view.h"

static DialUpDoubleState* StateOf(StateView& view, DialUpDoubleState* fallback) {
  if (view.block) return &view.block->dialUp;
  ZeroMemory(fallback, sizeof(*fallback));
  return fallback;
}

static void Report(DialUpDoubleState* state, LONG kinds) {
  if (kinds) CountViolation(&state->violationCount, &state->violationKinds, kinds);
}

static DWORD ConnectionCount(const DialUpDoubleState* state) {
  LONG count = state->connectionCount;
  if (count < 0) return 0;
  if (count > DOUBLE_MAX_DIALUP) return DOUBLE_MAX_DIALUP;
  return static_cast<DWORD>(count);
}

static void FillEntry(RasConnV400* entry, DWORD size, DWORD index) {
  entry->dwSize = size;
  entry->hrasconn = reinterpret_cast<HRASCONN>(static_cast<ULONG_PTR>(DIALUP_HANDLE_BASE + index));
  wsprintfA(entry->szEntryName, "Test Connection %lu", index + 1);
  lstrcpyA(entry->szDeviceType, RASDT_Modem);
  lstrcpyA(entry->szDeviceName, "Test Modem");
}

DWORD APIENTRY RasEnumConnectionsA(LPRASCONNA lprasconn, LPDWORD lpcb, LPDWORD lpcConnections) {
  StateView view;
  DialUpDoubleState fallback;
  DialUpDoubleState* state = StateOf(view, &fallback);
  InterlockedIncrement(&state->enumCount);
  if (!lprasconn || !lpcb || !lpcConnections) {
    Report(state, VIOLATION_BUFFER);
    return ERROR_INVALID_PARAMETER;
  }
  RasConnV400* first = reinterpret_cast<RasConnV400*>(lprasconn);
  state->lastEntrySize = first->dwSize;
  state->lastBufferSize = *lpcb;
  LONG kinds = 0;
  if (first->dwSize != sizeof(RasConnV400)) kinds |= VIOLATION_ENTRY_SIZE;
  if (*lpcb != RAS_PROGRAM_ENTRIES * sizeof(RasConnV400)) kinds |= VIOLATION_LENGTH;
  if (first->hrasconn) kinds |= VIOLATION_NOT_ZEROED;
  Report(state, kinds);
  if (kinds & VIOLATION_ENTRY_SIZE) return ERROR_INVALID_SIZE;
  if (state->enumFails) return static_cast<DWORD>(state->enumFails);

  DWORD count = ConnectionCount(state);
  DWORD size = first->dwSize;
  DWORD needed = count * size;
  *lpcConnections = count;
  if (*lpcb < needed) {
    *lpcb = needed;
    return ERROR_BUFFER_TOO_SMALL;
  }
  BYTE* entries = reinterpret_cast<BYTE*>(lprasconn);
  for (DWORD index = 0; index < count; index++) {
    FillEntry(reinterpret_cast<RasConnV400*>(entries + index * size), size, index);
  }
  *lpcb = needed;
  return 0;
}

DWORD APIENTRY RasGetConnectStatusA(HRASCONN hrasconn, LPRASCONNSTATUSA lpRasConnStatus) {
  StateView view;
  DialUpDoubleState fallback;
  DialUpDoubleState* state = StateOf(view, &fallback);
  InterlockedIncrement(&state->statusCount);
  if (!lpRasConnStatus) {
    Report(state, VIOLATION_BUFFER);
    return ERROR_INVALID_PARAMETER;
  }
  RasConnStatusV400* status = reinterpret_cast<RasConnStatusV400*>(lpRasConnStatus);
  state->lastStatusSize = status->dwSize;
  LONG kinds = 0;
  if (status->dwSize != sizeof(RasConnStatusV400)) kinds |= VIOLATION_ENTRY_SIZE;
  if (status->rasconnstate != 0 || status->dwError != 0) kinds |= VIOLATION_NOT_ZEROED;
  Report(state, kinds);
  if (kinds & VIOLATION_ENTRY_SIZE) return ERROR_INVALID_SIZE;

  ULONG_PTR index = reinterpret_cast<ULONG_PTR>(hrasconn) - DIALUP_HANDLE_BASE;
  if (index >= ConnectionCount(state)) return ERROR_INVALID_HANDLE;
  DialUpDoubleConnection* connection = &state->connections[index];
  InterlockedIncrement(&connection->statusCount);
  if (connection->statusFails) return ERROR_NO_CONNECTION;
  status->rasconnstate = static_cast<DWORD>(connection->rasconnstate);
  status->dwError = 0;
  lstrcpyA(status->szDeviceType, RASDT_Modem);
  lstrcpyA(status->szDeviceName, "Test Modem");
  return 0;
}
