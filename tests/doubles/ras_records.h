// The dial-up records as Corvalent passes them: the ANSI RAS layouts that WINVER 0x400 gives.
// Used by the rasapi32.dll double and by tests that call the double themselves.
#pragma once

#include <windows.h>
#include <ras.h>

struct RasConnV400 {
  DWORD dwSize;
  HRASCONN hrasconn;
  CHAR szEntryName[RAS_MaxEntryName + 1];
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
};

struct RasConnStatusV400 {
  DWORD dwSize;
  DWORD rasconnstate;
  DWORD dwError;
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
};

#ifdef _WIN64
static_assert(sizeof(RasConnV400) == 424, "RASCONNA (WINVER 0x400) on x86_64");
#else
static_assert(sizeof(RasConnV400) == 412, "RASCONNA (WINVER 0x400) on i686");
#endif
static_assert(sizeof(RasConnStatusV400) == 160, "RASCONNSTATUSA (WINVER 0x400)");

// The program hands RasEnumConnectionsA an array of this many entries.
#define RAS_PROGRAM_ENTRIES 4

typedef DWORD(APIENTRY* RasEnumConnectionsAProc)(LPRASCONNA, LPDWORD, LPDWORD);
typedef DWORD(APIENTRY* RasGetConnectStatusAProc)(HRASCONN, LPRASCONNSTATUSA);
