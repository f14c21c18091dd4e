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

// True when every byte of the record after its dwSize is zero.
static bool ZeroAfterSize(const BYTE* record, DWORD size) {
  for (DWORD offset = sizeof(DWORD); offset < size; offset++) {
    if (record[offset]) return false;
  }
  return true;
}

static void FillEntry(BYTE* entry, DWORD index) {
  SetRecordWord(entry, 0, RASCONN_V400_SIZE);
  SetRasConnHandle(entry, reinterpret_cast<HRASCONN>(static_cast<ULONG_PTR>(DIALUP_HANDLE_BASE + index)));
  wsprintfA(reinterpret_cast<char*>(entry + RASCONN_V400_ENTRY_NAME_OFFSET), "Test Connection %lu", index + 1);
  lstrcpyA(reinterpret_cast<char*>(entry + RASCONN_V400_DEVICE_TYPE_OFFSET), RASDT_Modem);
  lstrcpyA(reinterpret_cast<char*>(entry + RASCONN_V400_DEVICE_NAME_OFFSET), "Test Modem");
}

// The double knows the first published form only: any other dwSize is refused with
// ERROR_INVALID_SIZE, as the platform refuses a size it does not know.
DWORD APIENTRY RasEnumConnectionsA(LPRASCONNA lprasconn, LPDWORD lpcb, LPDWORD lpcConnections) {
  StateView view;
  DialUpDoubleState fallback;
  DialUpDoubleState* state = StateOf(view, &fallback);
  InterlockedIncrement(&state->enumCount);
  if (!lprasconn || !lpcb || !lpcConnections) {
    Report(state, VIOLATION_BUFFER);
    return ERROR_INVALID_PARAMETER;
  }
  BYTE* entries = reinterpret_cast<BYTE*>(lprasconn);
  DWORD entrySize = RecordWord(entries, 0);
  state->lastEntrySize = entrySize;
  state->lastBufferSize = *lpcb;
  if (entrySize != RASCONN_V400_SIZE) {
    Report(state, VIOLATION_ENTRY_SIZE);
    return ERROR_INVALID_SIZE;
  }
  if (!ZeroAfterSize(entries, *lpcb)) InterlockedIncrement(&state->unzeroedRecordCount);
  if (state->enumFails) return static_cast<DWORD>(state->enumFails);

  DWORD count = ConnectionCount(state);
  DWORD needed = count * RASCONN_V400_SIZE;
  *lpcConnections = count;
  if (*lpcb < needed) {
    *lpcb = needed;
    return ERROR_BUFFER_TOO_SMALL;
  }
  for (DWORD index = 0; index < count; index++) FillEntry(entries + index * RASCONN_V400_SIZE, index);
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
  BYTE* status = reinterpret_cast<BYTE*>(lpRasConnStatus);
  DWORD size = RecordWord(status, 0);
  state->lastStatusSize = size;
  if (size != RASCONNSTATUS_V400_SIZE) {
    Report(state, VIOLATION_ENTRY_SIZE);
    return ERROR_INVALID_SIZE;
  }
  if (!ZeroAfterSize(status, size)) InterlockedIncrement(&state->unzeroedRecordCount);

  ULONG_PTR index = reinterpret_cast<ULONG_PTR>(hrasconn) - DIALUP_HANDLE_BASE;
  if (index >= ConnectionCount(state)) return ERROR_INVALID_HANDLE;
  DialUpDoubleConnection* connection = &state->connections[index];
  InterlockedIncrement(&connection->statusCount);
  if (connection->statusFails) return ERROR_NO_CONNECTION;
  SetRecordWord(status, RASCONNSTATUS_V400_STATE_OFFSET, static_cast<DWORD>(connection->rasconnstate));
  SetRecordWord(status, RASCONNSTATUS_V400_ERROR_OFFSET, 0);
  lstrcpyA(reinterpret_cast<char*>(status + RASCONNSTATUS_V400_DEVICE_TYPE_OFFSET), RASDT_Modem);
  lstrcpyA(reinterpret_cast<char*>(status + RASCONNSTATUS_V400_DEVICE_NAME_OFFSET), "Test Modem");
  return 0;
}
