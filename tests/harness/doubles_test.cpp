// Self-test of the wininet.dll and rasapi32.dll doubles, loaded in this process and driven through
// DoubleState. Part of harness_test (registered with DOUBLES, so Wine loads the doubles by name).
#include <gtest/gtest.h>

#include "harness.h"

#include <wininet.h>
#include <raserror.h>
#include <thread>

#include "ras_records.h"

using namespace harness;

namespace {

struct WinInet {
  WinInet() : module(LoadLibraryW(L"wininet.dll")) {
    query = reinterpret_cast<decltype(&InternetQueryOptionA)>(GetProcAddress(module, "InternetQueryOptionA"));
    set = reinterpret_cast<decltype(&InternetSetOptionA)>(GetProcAddress(module, "InternetSetOptionA"));
    connected = reinterpret_cast<decltype(&InternetGetConnectedState)>(GetProcAddress(module, "InternetGetConnectedState"));
  }
  ~WinInet() { FreeLibrary(module); }
  // Wine's own WinInet has many more exports than the double.
  bool IsDouble() const { return module && query && set && connected && !GetProcAddress(module, "InternetCrackUrlA"); }

  HMODULE module;
  decltype(&InternetQueryOptionA) query;
  decltype(&InternetSetOptionA) set;
  decltype(&InternetGetConnectedState) connected;
};

struct DialUpApi {
  DialUpApi() : module(LoadLibraryW(L"RASAPI32.DLL")) {
    enumerate = reinterpret_cast<RasEnumConnectionsAProc>(GetProcAddress(module, "RasEnumConnectionsA"));
    status = reinterpret_cast<RasGetConnectStatusAProc>(GetProcAddress(module, "RasGetConnectStatusA"));
  }
  ~DialUpApi() { FreeLibrary(module); }
  bool IsDouble() const { return module && enumerate && status && !GetProcAddress(module, "RasDialA"); }

  HMODULE module;
  RasEnumConnectionsAProc enumerate;
  RasGetConnectStatusAProc status;
};

// The calls as the program makes them.
BOOL QueryState(const WinInet& wininet, DWORD* state) {
  *state = 0;
  DWORD length = sizeof(*state);
  return wininet.query(nullptr, INTERNET_OPTION_CONNECTED_STATE, state, &length);
}

BOOL SetState(const WinInet& wininet, DWORD state, DWORD flags) {
  INTERNET_CONNECTED_INFO info = {state, flags};
  return wininet.set(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof(info));
}

struct Enumeration {
  DWORD result;
  DWORD size;
  DWORD count;
  RasConnV400 entries[RAS_PROGRAM_ENTRIES];
};

Enumeration Enumerate(const DialUpApi& api, DWORD entrySize = sizeof(RasConnV400)) {
  Enumeration e = {};
  e.entries[0].dwSize = entrySize;
  e.size = sizeof(e.entries);
  e.result = api.enumerate(reinterpret_cast<LPRASCONNA>(e.entries), &e.size, &e.count);
  return e;
}

DWORD Status(const DialUpApi& api, HRASCONN handle, DWORD* state, DWORD size = sizeof(RasConnStatusV400)) {
  RasConnStatusV400 status = {};
  status.dwSize = size;
  DWORD result = api.status(handle, reinterpret_cast<LPRASCONNSTATUSA>(&status));
  *state = status.rasconnstate;
  return result;
}

HRASCONN Handle(DWORD index) {
  return reinterpret_cast<HRASCONN>(static_cast<ULONG_PTR>(DIALUP_HANDLE_BASE + index));
}

TEST(DoublesWithoutState, AreOnlineAndConnectedWithoutDialUpAndKeepTheStateTheProcessSets) {
  WinInet wininet;
  DialUpApi dialUp;
  ASSERT_TRUE(wininet.IsDouble());
  ASSERT_TRUE(dialUp.IsDouble());
  DWORD state = 0;
  EXPECT_TRUE(QueryState(wininet, &state));
  EXPECT_EQ(state, static_cast<DWORD>(INTERNET_STATE_CONNECTED));
  DWORD flags = 7;
  EXPECT_TRUE(wininet.connected(&flags, 0));
  EXPECT_EQ(flags, static_cast<DWORD>(INTERNET_CONNECTION_LAN));
  Enumeration e = Enumerate(dialUp);
  EXPECT_EQ(e.result, 0u);
  EXPECT_EQ(e.count, 0u);
  // A run of the program outside the tests switches the double with nothing else around.
  for (DWORD wanted : {INTERNET_STATE_DISCONNECTED_BY_USER, INTERNET_STATE_CONNECTED}) {
    EXPECT_TRUE(SetState(wininet, wanted, wanted == INTERNET_STATE_CONNECTED ? 0 : ISO_FORCE_DISCONNECTED));
    EXPECT_TRUE(QueryState(wininet, &state));
    EXPECT_EQ(state, wanted);
  }
}

class DoublesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(state.Ready());
    ASSERT_TRUE(wininet.IsDouble()) << "wininet.dll is not the double; is WINEDLLOVERRIDES set (DOUBLES)?";
    ASSERT_TRUE(dialUp.IsDouble()) << "RASAPI32.DLL is not the double";
  }

  DoubleState state;
  WinInet wininet;
  DialUpApi dialUp;
};

TEST_F(DoublesTest, QueryReturnsTheStateWordAndCountsTheCall) {
  state.SetWorkingOffline(true);
  DWORD word = 0;
  EXPECT_TRUE(QueryState(wininet, &word));
  EXPECT_EQ(word, static_cast<DWORD>(INTERNET_STATE_DISCONNECTED_BY_USER));
  EXPECT_EQ(state->wininet.queryCount, 1);
  EXPECT_EQ(state->wininet.violationCount, 0);
}

TEST_F(DoublesTest, QueryFailsWhenSwitchedToFail) {
  state->wininet.queryFails = 1;
  DWORD word = 0;
  EXPECT_FALSE(QueryState(wininet, &word));
  EXPECT_EQ(word, 0u);
  EXPECT_EQ(state->wininet.queryCount, 1);
}

TEST_F(DoublesTest, QueryCountsEachWrongArgument) {
  DWORD word = 0;
  DWORD length = sizeof(word);
  wininet.query(reinterpret_cast<HINTERNET>(1), INTERNET_OPTION_CONNECTED_STATE, &word, &length);
  EXPECT_EQ(state->wininet.violationKinds, VIOLATION_HANDLE);
  length = 8;
  EXPECT_FALSE(wininet.query(nullptr, INTERNET_OPTION_CONNECTED_STATE, &word, &length));
  word = 5;
  length = sizeof(word);
  wininet.query(nullptr, INTERNET_OPTION_CONNECTED_STATE, &word, &length);
  EXPECT_FALSE(wininet.query(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &word, &length));
  EXPECT_EQ(state->wininet.violationCount, 4);
  EXPECT_EQ(state->wininet.violationKinds,
            VIOLATION_HANDLE | VIOLATION_LENGTH | VIOLATION_NOT_ZEROED | VIOLATION_OPTION);
}

TEST_F(DoublesTest, SetStoresTheStateAndRecordsTheRecord) {
  EXPECT_TRUE(SetState(wininet, INTERNET_STATE_DISCONNECTED_BY_USER, ISO_FORCE_DISCONNECTED));
  EXPECT_TRUE(state.WorkingOffline());
  EXPECT_EQ(state->wininet.setCount, 1);
  EXPECT_EQ(state->wininet.lastSetState, INTERNET_STATE_DISCONNECTED_BY_USER);
  EXPECT_EQ(state->wininet.lastSetFlags, ISO_FORCE_DISCONNECTED);
  EXPECT_EQ(state->wininet.lastSetLength, 8);
  DWORD word = 0;
  QueryState(wininet, &word);
  EXPECT_EQ(word, static_cast<DWORD>(INTERNET_STATE_DISCONNECTED_BY_USER));
  EXPECT_EQ(state->wininet.violationCount, 0);
}

TEST_F(DoublesTest, FailingSetLeavesTheState) {
  state->wininet.setFails = 1;
  EXPECT_FALSE(SetState(wininet, INTERNET_STATE_DISCONNECTED_BY_USER, ISO_FORCE_DISCONNECTED));
  EXPECT_FALSE(state.WorkingOffline());
  EXPECT_EQ(state->wininet.lastSetState, INTERNET_STATE_DISCONNECTED_BY_USER);
}

TEST_F(DoublesTest, SetWithAWrongLengthIsAViolationAndStoresNothing) {
  INTERNET_CONNECTED_INFO info = {INTERNET_STATE_DISCONNECTED_BY_USER, ISO_FORCE_DISCONNECTED};
  EXPECT_FALSE(wininet.set(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, 4));
  EXPECT_FALSE(state.WorkingOffline());
  EXPECT_EQ(state->wininet.lastSetLength, 4);
  EXPECT_EQ(state->wininet.violationKinds, VIOLATION_LENGTH);
}

TEST_F(DoublesTest, ConnectedStateWritesTheFlagsAndRecordsTheWordItWasGiven) {
  state.SetConnection(FALSE, INTERNET_CONNECTION_MODEM);
  DWORD flags = 7;
  EXPECT_FALSE(wininet.connected(&flags, 0));
  EXPECT_EQ(flags, static_cast<DWORD>(INTERNET_CONNECTION_MODEM));
  EXPECT_EQ(state->wininet.lastFlagsOnEntry, 7);
  EXPECT_EQ(state->wininet.connectedCheckCount, 1);
  EXPECT_EQ(state->wininet.violationCount, 0);
}

TEST_F(DoublesTest, ConnectedStateCanLeaveTheFlagsUntouched) {
  state->wininet.leaveFlagsUntouched = 1;
  DWORD flags = 7;
  EXPECT_TRUE(wininet.connected(&flags, 0));
  EXPECT_EQ(flags, 7u);
}

TEST_F(DoublesTest, ConnectedStateWithReservedArgumentIsAViolation) {
  DWORD flags = 7;
  wininet.connected(&flags, 1);
  EXPECT_EQ(state->wininet.violationKinds, VIOLATION_RESERVED);
}

TEST_F(DoublesTest, WaitForWakesWhenADoubleIsCalledOnAnotherThread) {
  std::thread caller([this] {
    DWORD word;
    QueryState(wininet, &word);
  });
  EXPECT_TRUE(state.WaitFor([](const DoubleStateBlock& block) { return block.wininet.queryCount == 1; }));
  caller.join();
  EXPECT_FALSE(state.WaitFor([](const DoubleStateBlock& block) { return block.wininet.queryCount == 2; }, 50));
}

TEST_F(DoublesTest, EnumerationWritesEachHandleAtTheCallersStride) {
  state.SetDialUpConnections({RASCS_Connected, RASCS_Disconnected, RASCS_Authenticate});
  Enumeration e = Enumerate(dialUp);
  EXPECT_EQ(e.result, 0u);
  EXPECT_EQ(e.count, 3u);
  EXPECT_EQ(e.size, 3 * sizeof(RasConnV400));
  for (DWORD index = 0; index < 3; index++) EXPECT_EQ(e.entries[index].hrasconn, Handle(index));
  EXPECT_EQ(e.entries[3].hrasconn, nullptr);
  EXPECT_EQ(state->dialUp.enumCount, 1);
  EXPECT_EQ(state->dialUp.lastEntrySize, static_cast<LONG>(sizeof(RasConnV400)));
  EXPECT_EQ(state->dialUp.lastBufferSize, static_cast<LONG>(RAS_PROGRAM_ENTRIES * sizeof(RasConnV400)));
  EXPECT_EQ(state->dialUp.violationCount, 0);
}

TEST_F(DoublesTest, FiveConnectionsDoNotFitAndTheNeededSizeIsReported) {
  state.SetDialUpConnections({RASCS_Connected, RASCS_Connected, RASCS_Connected, RASCS_Connected, RASCS_Connected});
  Enumeration e = Enumerate(dialUp);
  EXPECT_EQ(e.result, static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(e.size, 5 * sizeof(RasConnV400));
  EXPECT_EQ(e.entries[0].hrasconn, nullptr);
}

TEST_F(DoublesTest, EnumerationWithTheI686EntrySizeIsRefusedOnThisBuild) {
  Enumeration e = Enumerate(dialUp, 412);
  EXPECT_EQ(e.result, static_cast<DWORD>(ERROR_INVALID_SIZE));
  EXPECT_EQ(state->dialUp.violationKinds, VIOLATION_ENTRY_SIZE);
}

TEST_F(DoublesTest, EnumerationCanBeMadeToFail) {
  state.SetDialUpConnections({RASCS_Connected});
  state->dialUp.enumFails = ERROR_CANNOT_OPEN_PHONEBOOK;
  EXPECT_EQ(Enumerate(dialUp).result, static_cast<DWORD>(ERROR_CANNOT_OPEN_PHONEBOOK));
}

TEST_F(DoublesTest, StatusReportsTheStateOfEachHandle) {
  state.SetDialUpConnections({RASCS_Connected, RASCS_Disconnected});
  DWORD connectionState = 0;
  EXPECT_EQ(Status(dialUp, Handle(0), &connectionState), 0u);
  EXPECT_EQ(connectionState, static_cast<DWORD>(RASCS_Connected));
  EXPECT_EQ(Status(dialUp, Handle(1), &connectionState), 0u);
  EXPECT_EQ(connectionState, static_cast<DWORD>(RASCS_Disconnected));
  EXPECT_EQ(state->dialUp.connections[0].statusCount, 1);
  EXPECT_EQ(state->dialUp.connections[1].statusCount, 1);
  EXPECT_EQ(state->dialUp.statusCount, 2);
  EXPECT_EQ(state->dialUp.violationCount, 0);
}

TEST_F(DoublesTest, StatusFailsForASwitchedConnectionAndAnUnknownHandle) {
  state.SetDialUpConnections({RASCS_Connected, RASCS_Connected});
  state->dialUp.connections[1].statusFails = 1;
  DWORD connectionState = 0;
  EXPECT_NE(Status(dialUp, Handle(1), &connectionState), 0u);
  EXPECT_EQ(connectionState, 0u);
  EXPECT_EQ(Status(dialUp, Handle(2), &connectionState), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Status(dialUp, nullptr, &connectionState), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(DoublesTest, StatusWithAWrongRecordSizeIsAViolation) {
  state.SetDialUpConnections({RASCS_Connected});
  DWORD connectionState = 0;
  EXPECT_EQ(Status(dialUp, Handle(0), &connectionState, 156), static_cast<DWORD>(ERROR_INVALID_SIZE));
  EXPECT_EQ(state->dialUp.lastStatusSize, 156);
  EXPECT_EQ(state->dialUp.violationKinds, VIOLATION_ENTRY_SIZE);
}

}  // namespace
