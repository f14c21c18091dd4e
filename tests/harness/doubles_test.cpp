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

// Four entries of the first published form in one zeroed buffer, the first one's dwSize set.
constexpr DWORD kEntries = 4;

struct Enumeration {
  DWORD result;
  DWORD size;
  DWORD count;
  BYTE entries[kEntries * RASCONN_V400_SIZE];
  HRASCONN HandleOf(DWORD index) const { return RasConnHandle(entries + index * RASCONN_V400_SIZE); }
};

Enumeration Enumerate(const DialUpApi& api, DWORD entrySize = RASCONN_V400_SIZE) {
  Enumeration e = {};
  SetRecordWord(e.entries, 0, entrySize);
  e.size = sizeof(e.entries);
  e.result = api.enumerate(reinterpret_cast<LPRASCONNA>(e.entries), &e.size, &e.count);
  return e;
}

DWORD Status(const DialUpApi& api, HRASCONN handle, DWORD* state, DWORD size = RASCONNSTATUS_V400_SIZE) {
  BYTE status[RASCONNSTATUS_V400_SIZE] = {};
  SetRecordWord(status, 0, size);
  DWORD result = api.status(handle, reinterpret_cast<LPRASCONNSTATUSA>(status));
  *state = RecordWord(status, RASCONNSTATUS_V400_STATE_OFFSET);
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
  length = 2;
  EXPECT_FALSE(wininet.query(nullptr, INTERNET_OPTION_CONNECTED_STATE, &word, &length));
  length = sizeof(word);
  EXPECT_FALSE(wininet.query(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &word, &length));
  EXPECT_EQ(state->wininet.violationCount, 3);
  EXPECT_EQ(state->wininet.violationKinds, VIOLATION_HANDLE | VIOLATION_LENGTH | VIOLATION_OPTION);
}

// A word left in the buffer and a longer buffer are the caller's business: recorded, not refused.
TEST_F(DoublesTest, QueryRecordsTheLengthAndABufferThatWasNotZeroed) {
  DWORD words[2] = {5, 0};
  DWORD length = sizeof(words);
  EXPECT_TRUE(wininet.query(nullptr, INTERNET_OPTION_CONNECTED_STATE, words, &length));
  EXPECT_EQ(state->wininet.lastQueryLength, 8);
  EXPECT_EQ(length, sizeof(DWORD));
  EXPECT_EQ(state->wininet.unzeroedQueryCount, 1);
  EXPECT_EQ(state->wininet.violationCount, 0);
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

TEST(DialUpRecords, FirstPublishedFormHasTheHandleAtFourOnBothTargets) {
#ifdef _WIN64
  EXPECT_EQ(RASCONN_V400_SIZE, 416);
#else
  EXPECT_EQ(RASCONN_V400_SIZE, 412);
#endif
  EXPECT_EQ(RASCONN_V400_HANDLE_OFFSET, 4);
  EXPECT_EQ(RASCONN_V400_ENTRY_NAME_OFFSET, RASCONN_V400_HANDLE_OFFSET + static_cast<int>(sizeof(HANDLE)));
  EXPECT_EQ(RASCONN_V400_DEVICE_TYPE_OFFSET, RASCONN_V400_ENTRY_NAME_OFFSET + RAS_MaxEntryName + 1);
  EXPECT_EQ(RASCONN_V400_DEVICE_NAME_OFFSET, RASCONN_V400_DEVICE_TYPE_OFFSET + RAS_MaxDeviceType + 1);
  EXPECT_EQ(RASCONN_V400_SIZE, (RASCONN_V400_DEVICE_NAME_OFFSET + RAS_MaxDeviceName + 1 + 3) / 4 * 4);
  EXPECT_EQ(RASCONNSTATUS_V400_SIZE, (RASCONNSTATUS_V400_DEVICE_NAME_OFFSET + RAS_MaxDeviceName + 1 + 3) / 4 * 4);
}

TEST_F(DoublesTest, EnumerationWritesEachHandleAtItsPublishedOffset) {
  state.SetDialUpConnections({RASCS_Connected, RASCS_Disconnected, RASCS_Authenticate});
  Enumeration e = Enumerate(dialUp);
  EXPECT_EQ(e.result, 0u);
  EXPECT_EQ(e.count, 3u);
  EXPECT_EQ(e.size, 3u * RASCONN_V400_SIZE);
  for (DWORD index = 0; index < 3; index++) EXPECT_EQ(e.HandleOf(index), Handle(index));
  EXPECT_EQ(e.HandleOf(3), nullptr);
  EXPECT_EQ(RecordWord(e.entries, RASCONN_V400_SIZE), static_cast<DWORD>(RASCONN_V400_SIZE));
  EXPECT_STREQ(reinterpret_cast<const char*>(e.entries + RASCONN_V400_SIZE + RASCONN_V400_ENTRY_NAME_OFFSET),
               "Test Connection 2");
  EXPECT_EQ(state->dialUp.enumCount, 1);
  EXPECT_EQ(state->dialUp.lastEntrySize, RASCONN_V400_SIZE);
  EXPECT_EQ(state->dialUp.lastBufferSize, static_cast<LONG>(kEntries * RASCONN_V400_SIZE));
  EXPECT_EQ(state->dialUp.unzeroedRecordCount, 0);
  EXPECT_EQ(state->dialUp.violationCount, 0);
}

TEST_F(DoublesTest, FiveConnectionsDoNotFitAndTheNeededSizeIsReported) {
  state.SetDialUpConnections({RASCS_Connected, RASCS_Connected, RASCS_Connected, RASCS_Connected, RASCS_Connected});
  Enumeration e = Enumerate(dialUp);
  EXPECT_EQ(e.result, static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(e.size, 5u * RASCONN_V400_SIZE);
  EXPECT_EQ(e.HandleOf(0), nullptr);
}

// Entry sizes that are not the first published form of this target: the other target's, and the
// 424 bytes of the record laid out with natural alignment (the handle at offset 8 on x86_64).
TEST_F(DoublesTest, EnumerationWithAnEntrySizeOfAnotherFormIsRefused) {
  for (DWORD size : {RASCONN_V400_SIZE == 412 ? 416u : 412u, 424u}) {
    SCOPED_TRACE(size);
    state.Reset();
    state.SetDialUpConnections({RASCS_Connected});
    Enumeration e = Enumerate(dialUp, size);
    EXPECT_EQ(e.result, static_cast<DWORD>(ERROR_INVALID_SIZE));
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.HandleOf(0), nullptr);
    EXPECT_EQ(state->dialUp.lastEntrySize, static_cast<LONG>(size));
    EXPECT_EQ(state->dialUp.violationKinds, VIOLATION_ENTRY_SIZE);
  }
}

TEST_F(DoublesTest, EnumerationRecordsABufferThatWasNotZeroed) {
  Enumeration e = {};
  SetRecordWord(e.entries, 0, RASCONN_V400_SIZE);
  SetRasConnHandle(e.entries, Handle(7));
  e.size = sizeof(e.entries);
  EXPECT_EQ(dialUp.enumerate(reinterpret_cast<LPRASCONNA>(e.entries), &e.size, &e.count), 0u);
  EXPECT_EQ(state->dialUp.unzeroedRecordCount, 1);
  EXPECT_EQ(state->dialUp.violationCount, 0);
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
