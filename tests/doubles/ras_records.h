// The first published form (WINVER 0x400) of the ANSI dial-up records, as offsets and sizes.
// Used by the rasapi32.dll double and by the tests that call the double themselves.
#pragma once

#include <windows.h>
#include <ras.h>

// RASCONNA, first form: dwSize (DWORD), hrasconn (a handle: 4 bytes on i686, 8 on x86_64),
// szEntryName[RAS_MaxEntryName + 1 = 257], szDeviceType[RAS_MaxDeviceType + 1 = 17],
// szDeviceName[RAS_MaxDeviceName + 1 = 129]. The platform header packs every RAS record to
// 4 bytes, so the handle follows dwSize at offset 4 on both targets and the strings follow the
// handle: 4 + 4 + 257 + 17 + 129 = 411, rounded up to 412 on i686; 4 + 8 + 257 + 17 + 129 = 415,
// rounded up to 416 on x86_64. (Natural alignment would put the 8-byte handle at offset 8 and
// make the x86_64 entry 424 bytes: a form the platform does not know.)
#define RASCONN_V400_HANDLE_OFFSET 4
#ifdef _WIN64
#define RASCONN_V400_SIZE 416
#define RASCONN_V400_ENTRY_NAME_OFFSET 12
#define RASCONN_V400_DEVICE_TYPE_OFFSET 269
#define RASCONN_V400_DEVICE_NAME_OFFSET 286
#else
#define RASCONN_V400_SIZE 412
#define RASCONN_V400_ENTRY_NAME_OFFSET 8
#define RASCONN_V400_DEVICE_TYPE_OFFSET 265
#define RASCONN_V400_DEVICE_NAME_OFFSET 282
#endif

// RASCONNSTATUSA, first form: dwSize, rasconnstate, dwError (three DWORDs), szDeviceType[17],
// szDeviceName[129]: 12 + 17 + 129 = 158, rounded up to 160 on both targets.
#define RASCONNSTATUS_V400_SIZE 160
#define RASCONNSTATUS_V400_STATE_OFFSET 4
#define RASCONNSTATUS_V400_ERROR_OFFSET 8
#define RASCONNSTATUS_V400_DEVICE_TYPE_OFFSET 12
#define RASCONNSTATUS_V400_DEVICE_NAME_OFFSET 29

// The records are byte arrays at these offsets; the handle of an x86_64 entry is not 8-byte
// aligned, so it is copied rather than read in place.
inline HRASCONN RasConnHandle(const BYTE* entry) {
  HRASCONN handle;
  CopyMemory(&handle, entry + RASCONN_V400_HANDLE_OFFSET, sizeof(handle));
  return handle;
}

inline void SetRasConnHandle(BYTE* entry, HRASCONN handle) {
  CopyMemory(entry + RASCONN_V400_HANDLE_OFFSET, &handle, sizeof(handle));
}

inline DWORD RecordWord(const BYTE* record, size_t offset) {
  DWORD word;
  CopyMemory(&word, record + offset, sizeof(word));
  return word;
}

inline void SetRecordWord(BYTE* record, size_t offset, DWORD word) {
  CopyMemory(record + offset, &word, sizeof(word));
}

typedef DWORD(APIENTRY* RasEnumConnectionsAProc)(LPRASCONNA, LPDWORD, LPDWORD);
typedef DWORD(APIENTRY* RasGetConnectStatusAProc)(HRASCONN, LPRASCONNSTATUSA);
