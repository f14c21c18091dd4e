// The state block shared by the test doubles (wininet.dll, rasapi32.dll, netlist.dll) and the tests that drive them.
// The test process creates it as a named file mapping; each double opens it on every call.
#pragma once

#include <windows.h>

// Name of the file mapping. A test process publishes the name it actually uses in the
// environment variable below (its children inherit it); without the variable the doubles
// open the plain name. Without any block they start online and connected, with no dial-up
// connection, and report nothing; the WinInet double then keeps the state its process sets.
#define DOUBLE_STATE_NAME L"CorvalentTestDoubles"
#define DOUBLE_STATE_NAME_VARIABLE L"CORVALENT_DOUBLE_STATE"
// A manual-reset event named <mapping name><suffix>: the doubles set it after every call,
// so a test can wait for a call instead of polling the block.
#define DOUBLE_STATE_EVENT_SUFFIX L"-Called"

#define DOUBLE_STATE_MAGIC 0x44545643 // "CVTD"
#define DOUBLE_STATE_VERSION 4

#define DOUBLE_MAX_DIALUP 8

// Bits of the violation words: which of the platform's argument rules a call broke at least once.
// What the program itself promises beyond them (zeroed buffers, the flags word it hands over, the
// buffer size) is only recorded, in the fields below, for the tests to judge.
#define VIOLATION_HANDLE 0x01     // internet handle not null
#define VIOLATION_OPTION 0x02     // option not INTERNET_OPTION_CONNECTED_STATE
#define VIOLATION_BUFFER 0x04     // null buffer or null length/flags/count pointer
#define VIOLATION_LENGTH 0x08     // query length under 4, set length not sizeof(INTERNET_CONNECTED_INFO)
#define VIOLATION_RESERVED 0x20   // InternetGetConnectedState reserved argument not 0
#define VIOLATION_ENTRY_SIZE 0x40 // RAS record dwSize not the first published form's size (ras_records.h)

// All fields are 32-bit words, so the layout is the same in every process of the test run.
// Counters are changed with InterlockedIncrement; everything else is plain aligned stores.
struct WinInetDoubleState {
  // Driven by the test.
  volatile LONG connectedState;      // INTERNET_STATE_* word that InternetQueryOptionA returns
  volatile LONG queryFails;          // nonzero: InternetQueryOptionA returns FALSE and writes nothing
  volatile LONG setFails;            // nonzero: InternetSetOptionA returns FALSE and stores nothing
  volatile LONG connected;           // BOOL that InternetGetConnectedState returns
  volatile LONG connectionFlags;     // word that InternetGetConnectedState writes through its flags
  volatile LONG leaveFlagsUntouched; // nonzero: InternetGetConnectedState does not write the flags
  // Recorded by the double.
  volatile LONG queryCount;
  volatile LONG lastQueryLength;     // length the last query was given
  volatile LONG unzeroedQueryCount;  // queries whose buffer word was not 0 on entry
  volatile LONG setCount;
  volatile LONG lastSetState;        // dwConnectedState of the last set record
  volatile LONG lastSetFlags;        // dwFlags of the last set record
  volatile LONG lastSetLength;       // length argument of the last set
  volatile LONG connectedCheckCount;
  volatile LONG lastFlagsOnEntry;    // value of the flags word when InternetGetConnectedState was entered
  volatile LONG violationCount;      // calls whose arguments were not as the program must pass them
  volatile LONG violationKinds;      // VIOLATION_* bits seen
};

struct DialUpDoubleConnection {
  volatile LONG rasconnstate; // RASCONNSTATE that RasGetConnectStatusA reports
  volatile LONG statusFails;  // nonzero: RasGetConnectStatusA fails for this connection
  volatile LONG statusCount;  // status calls for this connection
};

struct DialUpDoubleState {
  // Driven by the test.
  volatile LONG connectionCount; // 0..DOUBLE_MAX_DIALUP
  volatile LONG enumFails;       // nonzero: RasEnumConnectionsA returns this error code
  DialUpDoubleConnection connections[DOUBLE_MAX_DIALUP];
  // Recorded by the double.
  volatile LONG enumCount;
  volatile LONG statusCount;      // all status calls, including ones for unknown handles
  volatile LONG lastBufferSize;   // size argument of the last enumeration, on entry
  volatile LONG lastEntrySize;    // first entry's dwSize of the last enumeration
  volatile LONG lastStatusSize;   // dwSize of the last status record
  volatile LONG unzeroedRecordCount; // records handed over with anything but dwSize not zero
  volatile LONG violationCount;
  volatile LONG violationKinds;
};

#define DOUBLE_MAX_NETWORK_CONNECTIONS 4

// The network list double (netlist.dll, the Network List Manager's class). A block of zeros has no
// network list: the class is not registered (REGDB_E_CLASSNOTREG), as before Vista.
struct NetworkListDoubleState {
  // Driven by the test.
  volatile LONG available;         // nonzero: the class can be made
  volatile LONG connectivity;      // NLM_CONNECTIVITY bits that GetConnectivity reports
  volatile LONG connectivityFails; // nonzero: GetConnectivity returns this HRESULT and writes nothing
  volatile LONG costAnswered;      // nonzero: the object answers INetworkCostManager (Windows 8 and later)
  volatile LONG cost;              // NLM_CONNECTION_COST word that GetCost reports
  volatile LONG laterPollsFail;    // nonzero: from its second GetConnectivity on, every call of an object
                                   // returns this HRESULT (its service restarted); a new object answers
  volatile LONG connectionCount;   // connections that GetNetworkConnections lists, 0..DOUBLE_MAX_NETWORK_CONNECTIONS
  volatile LONG connectionConnected[DOUBLE_MAX_NETWORK_CONNECTIONS];  // their get_IsConnected
  volatile LONG connectionCost[DOUBLE_MAX_NETWORK_CONNECTIONS];       // their INetworkConnectionCost::GetCost
  // Recorded by the double.
  volatile LONG classRequestCount; // requests for the class (DllGetClassObject), answered or not
  volatile LONG createCount;       // objects made
  volatile LONG liveCount;         // objects not yet released to their last reference
  volatile LONG connectivityCount;
  volatile LONG costCount;
  volatile LONG violationCount;    // calls with a null out pointer
};

struct DoubleStateBlock {
  volatile LONG magic;   // DOUBLE_STATE_MAGIC
  volatile LONG version; // DOUBLE_STATE_VERSION
  volatile LONG size;    // sizeof(DoubleStateBlock)
  WinInetDoubleState wininet;
  DialUpDoubleState dialUp;
  NetworkListDoubleState networkList;
};

// Handle values the dial-up double hands out: connection i has DIALUP_HANDLE_BASE + i.
#define DIALUP_HANDLE_BASE 0x4C00
