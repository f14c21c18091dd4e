// End-to-end tests of AutoSwitch and Aggressive Offline: the real Corvalent.exe with the WinInet and
// dial-up doubles and the recording tray, refreshes driven by poll-timer messages. Part of e2e_autoswitch.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "harness.h"
#include "ras_records.h"

#include <ras.h>
#include <raserror.h>
#include <wininet.h>
#include <netlistmgr.h>

using harness::DialUp;
using harness::TrayRecord;

namespace {


// The program's own ids that these tests use.
const UINT_PTR POLL_TIMER = 101;
const WORD MENU_OPTIONS = 40007;
const WORD MENU_EXIT = 40006;
const int AGGRESSIVE_OFFLINE_BOX = 1005;
const int OPTIONS_CANCEL_BUTTON = 1007;

// Option bits as the settings store keeps them.
const DWORD AUTOSWITCH = 0x04;
const DWORD AUTOSWITCH_TOOLTIPS = 0x10;
const DWORD AGGRESSIVE_OFFLINE = 0x20;
const DWORD METERED_OFFLINE = 0x80;
const DWORD NO_DIALUP = 0x80000000;

// Tray pictures: the icon resources of Corvalent.exe.
const WORD AUTO_OFFLINE_PICTURE = 103;
const WORD CONNECTED_ONLINE_PICTURE = 104;
const WORD AUTO_ONLINE_PICTURE = 105;
const WORD CONNECTED_OFFLINE_PICTURE = 106;

// Refreshes that always cover at least three connection polls (one poll every third refresh).
const int THREE_POLLS = 9;

void DeleteSettings() {
  harness::DeleteSettingsKey();
}

bool WriteSettings(DWORD options) {
  return harness::WriteSettingsKey(options);
}

class AutoSwitchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles_.Ready());
    ASSERT_TRUE(tray_.Ready());
    DeleteSettings();
  }

  void TearDown() override {
    if (program_ && program_->Running()) {
      program_->Post(harness::Command(MENU_EXIT));
      EXPECT_EQ(program_->WaitForExit(), std::optional<DWORD>(0));
    }
    program_.reset();
    stage_.reset();
    DeleteSettings();
    EXPECT_EQ(doubles_.WinInet().violationCount, 0) << "kinds " << doubles_.WinInet().violationKinds;
    EXPECT_EQ(doubles_.DialUp().violationCount, 0) << "kinds " << doubles_.DialUp().violationKinds;
    EXPECT_EQ(doubles_.DialUp().unzeroedRecordCount, 0) << "a dial-up record was not zeroed";
    EXPECT_EQ(doubles_.NetworkList().violationCount, 0);
    EXPECT_EQ(doubles_.NetworkList().liveCount, 0) << "the network list was not released";
    if (doubles_.DialUp().enumCount > 0) {
      EXPECT_EQ(doubles_.DialUp().lastBufferSize, 4 * RASCONN_V400_SIZE) << "not a buffer of four entries";
    }
  }

  // Starts the program with these options and waits until its start-up is over: the icon added and
  // drawn twice (AutoSwitch priming and the add's own refresh), and a posted poll tick handled by
  // the message loop.
  // dialUpLibrary: another double staged as rasapi32.dll, a path under the doubles folder.
  void StartProgram(DWORD options, DialUp dialUp = DialUp::Double, const wchar_t* dialUpLibrary = nullptr) {
    ASSERT_TRUE(WriteSettings(options));
    harness::StageOptions stageOptions;
    stageOptions.dialUp = dialUp;
    stage_ = std::make_unique<harness::Stage>(stageOptions);
    if (dialUpLibrary) stage_->Add(harness::JoinPath(harness::DoublesFolder(), dialUpLibrary), L"rasapi32.dll");
    ASSERT_TRUE(stage_->Ready()) << std::string(stage_->Error().begin(), stage_->Error().end());
    program_ = std::make_unique<harness::Program>(*stage_);
    ASSERT_TRUE(program_->Start());
    ASSERT_NE(program_->WaitForMainWindow(), nullptr);
    ASSERT_TRUE(tray_.WaitForCount(3));
    LONG queries = doubles_.WinInet().queryCount;
    ASSERT_TRUE(program_->Post(harness::Timer(POLL_TIMER)));
    ASSERT_TRUE(doubles_.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.queryCount > queries; }));
  }

  // One refresh of the tray, as the poll timer makes it.
  void Refresh() {
    ASSERT_TRUE(program_->Send(harness::Timer(POLL_TIMER)).has_value());
  }

  // Refreshes until done holds, at most limit times; the number of refreshes it took, or -1.
  int RefreshUntil(const std::function<bool()>& done, int limit) {
    for (int count = 0; count <= limit; count++) {
      if (done()) return count;
      if (count < limit) Refresh();
    }
    return -1;
  }

  void RefreshTimes(int count) {
    for (int index = 0; index < count; index++) Refresh();
  }

  bool Offline() const { return doubles_.WorkingOffline(); }

  void Click() {
    ASSERT_TRUE(program_->Send(harness::TrayCallback(WM_LBUTTONDOWN)).has_value());
  }

  harness::IconPicture Picture(WORD id) const {
    std::optional<harness::IconPicture> picture = harness::PictureOfResource(stage_->ProgramPath(), id);
    return picture ? *picture : harness::IconPicture();
  }

  // Checks one redraw: a modify of the program's icon with this picture and tooltip.
  void ExpectRedraw(const TrayRecord& record, WORD picture, const wchar_t* tip) const {
    EXPECT_EQ(record.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(record.id, harness::kTrayIconId);
    EXPECT_EQ(record.flags, static_cast<UINT>(NIF_ICON | NIF_TIP));
    EXPECT_EQ(record.tip, tip);
    EXPECT_EQ(record.icon, Picture(picture)) << "expected picture " << picture;
  }

  harness::DoubleState doubles_;
  harness::TrayRecorder tray_;
  std::unique_ptr<harness::Stage> stage_;
  std::unique_ptr<harness::Program> program_;
};

TEST_F(AutoSwitchTest, ConnectionComingUpGoesOnlineShowingTheConnectionBeforeTheNewState) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(FALSE, 0);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AUTOSWITCH_TOOLTIPS));
  ExpectRedraw(tray_.Records().back(), AUTO_OFFLINE_PICTURE, L"Working Offline. AutoSwitch On (Not Connected)");

  size_t from = tray_.Count();
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0) << "still offline after three refreshes";
  EXPECT_EQ(doubles_.WinInet().lastSetState, INTERNET_STATE_CONNECTED);
  EXPECT_EQ(doubles_.WinInet().lastSetFlags, 0);
  Refresh();
  ASSERT_TRUE(tray_.WaitForCount(from + 2));
  std::vector<TrayRecord> records = tray_.Records();
  ASSERT_EQ(records.size(), from + 2) << "one redraw for the connection, one for the new state";
  ExpectRedraw(records[from], CONNECTED_OFFLINE_PICTURE, L"Working Offline. AutoSwitch On (Connected)");
  ExpectRedraw(records[from + 1], CONNECTED_ONLINE_PICTURE, L"Working Online. AutoSwitch On (Connected)");
}

TEST_F(AutoSwitchTest, ConnectionDroppingWhileOnlineGoesOffline) {
  doubles_.SetWorkingOffline(false);
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AUTOSWITCH_TOOLTIPS));
  ExpectRedraw(tray_.Records().back(), CONNECTED_ONLINE_PICTURE, L"Working Online. AutoSwitch On (Connected)");

  size_t from = tray_.Count();
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "still online after three refreshes";
  EXPECT_EQ(doubles_.WinInet().lastSetState, INTERNET_STATE_DISCONNECTED_BY_USER);
  EXPECT_EQ(doubles_.WinInet().lastSetFlags, ISO_FORCE_DISCONNECTED);
  Refresh();
  ASSERT_TRUE(tray_.WaitForCount(from + 2));
  std::vector<TrayRecord> records = tray_.Records();
  ASSERT_EQ(records.size(), from + 2);
  ExpectRedraw(records[from], AUTO_ONLINE_PICTURE, L"Working Online. AutoSwitch On (Not Connected)");
  ExpectRedraw(records[from + 1], AUTO_OFFLINE_PICTURE, L"Working Offline. AutoSwitch On (Not Connected)");
}

TEST_F(AutoSwitchTest, ConnectionPresentAtStartupLeavesOfflineUntilItDropsAndReturns) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH));
  LONG checks = doubles_.WinInet().connectedCheckCount;
  RefreshTimes(THREE_POLLS);
  EXPECT_GE(doubles_.WinInet().connectedCheckCount - checks, 3);
  EXPECT_TRUE(Offline());
  EXPECT_EQ(doubles_.WinInet().setCount, 0);

  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  RefreshTimes(THREE_POLLS);
  EXPECT_TRUE(Offline());
  EXPECT_EQ(doubles_.WinInet().setCount, 0) << "offline already: nothing to set when the connection ends";

  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0) << "a new connection must go online";
}

TEST_F(AutoSwitchTest, ConnectionIsCheckedOnceEveryThirdRefreshAndDialUpNotWithoutAggressiveOffline) {
  doubles_.SetWorkingOffline(false);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH));
  Refresh();
  LONG queries = doubles_.WinInet().queryCount;
  LONG checks = doubles_.WinInet().connectedCheckCount;
  RefreshTimes(THREE_POLLS);
  LONG queried = doubles_.WinInet().queryCount - queries;
  LONG checked = doubles_.WinInet().connectedCheckCount - checks;
  // The program's own one-second timer may add refreshes to the burst; each refresh reads the state once.
  EXPECT_GE(queried, THREE_POLLS);
  EXPECT_GE(checked, queried / 3) << queried << " refreshes";
  EXPECT_LE(checked, (queried + 2) / 3) << queried << " refreshes";
  EXPECT_EQ(doubles_.DialUp().enumCount, 0);
  EXPECT_FALSE(Offline()) << "online by hand without a connection stays online without Aggressive Offline";
}

TEST_F(AutoSwitchTest, AggressiveOfflineDoesNotEnumerateDialUpWhileConnected) {
  doubles_.SetWorkingOffline(false);
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE));
  LONG checks = doubles_.WinInet().connectedCheckCount;
  RefreshTimes(THREE_POLLS);
  EXPECT_GE(doubles_.WinInet().connectedCheckCount - checks, 3);
  EXPECT_EQ(doubles_.DialUp().enumCount, 0);
  EXPECT_FALSE(Offline());
}

TEST_F(AutoSwitchTest, AggressiveOfflineUndoesGoingOnlineWithoutAnyConnection) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE));

  // No dial-up connection at all.
  LONG sets = doubles_.WinInet().setCount;
  Click();
  EXPECT_GT(doubles_.WinInet().setCount, sets);
  EXPECT_GE(RefreshUntil([&] { return Offline() && doubles_.WinInet().setCount >= sets + 2; }, 3), 0)
      << "the click online was not undone";
  EXPECT_EQ(doubles_.WinInet().lastSetFlags, ISO_FORCE_DISCONNECTED);
  EXPECT_GT(doubles_.DialUp().enumCount, 0);

  // Offline: the dial-up connections are not looked at.
  LONG enumerations = doubles_.DialUp().enumCount;
  RefreshTimes(THREE_POLLS);
  EXPECT_EQ(doubles_.DialUp().enumCount, enumerations);

  // Five connections do not fit the program's four entries: the enumeration fails, none count.
  doubles_.SetDialUpConnections({RASCS_Connected, RASCS_Connected, RASCS_Connected, RASCS_Connected,
                                 RASCS_Connected});
  LONG statuses = doubles_.DialUp().statusCount;
  Click();
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "five connections kept it online";
  EXPECT_GT(doubles_.DialUp().enumCount, enumerations);
  EXPECT_EQ(doubles_.DialUp().statusCount, statuses);

  // The enumeration fails: the one connection it would have listed does not count.
  doubles_.SetDialUpConnections({RASCS_Connected});
  doubles_.DialUp().enumFails = ERROR_CANNOT_OPEN_PHONEBOOK;
  Click();
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "a failed enumeration kept it online";
  doubles_.DialUp().enumFails = 0;

  // The only connection's status cannot be read: it does not count.
  doubles_.SetDialUpConnections({RASCS_Connected});
  doubles_.DialUp().connections[0].statusFails = 1;
  Click();
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "a connection without status kept it online";
  EXPECT_GT(doubles_.DialUp().connections[0].statusCount, 0);
}

TEST_F(AutoSwitchTest, AggressiveOfflineLeavesOnlineWhileADialUpConnectionIsNotDisconnected) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_MODEM);
  doubles_.SetDialUpConnections({RASCS_OpenPort});
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE));

  Click();
  LONG enumerations = doubles_.DialUp().enumCount;
  RefreshTimes(THREE_POLLS);
  EXPECT_FALSE(Offline()) << "forced offline while dialling";
  EXPECT_GE(doubles_.DialUp().enumCount - enumerations, 3);
  EXPECT_GE(doubles_.DialUp().connections[0].statusCount, 3);

  doubles_.DialUp().connections[0].rasconnstate = RASCS_Connected;
  RefreshTimes(THREE_POLLS);
  EXPECT_FALSE(Offline()) << "forced offline while the dial-up connection is up";

  doubles_.DialUp().connections[0].rasconnstate = RASCS_Disconnected;
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "a disconnected entry kept it online";
}

TEST_F(AutoSwitchTest, AggressiveOfflineLeavesOnlineWhenWinInetDescribesNoConnection) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(FALSE, 0);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE));
  Click();
  LONG checks = doubles_.WinInet().connectedCheckCount;
  RefreshTimes(THREE_POLLS);
  EXPECT_GE(doubles_.WinInet().connectedCheckCount - checks, 3);
  EXPECT_FALSE(Offline());
  EXPECT_EQ(doubles_.WinInet().lastSetState, INTERNET_STATE_CONNECTED);

  // A call that leaves the word alone leaves the program's 7 in it: a description, so forced.
  doubles_.WinInet().leaveFlagsUntouched = 1;
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "the untouched flags word did not stay 7";
}

TEST_F(AutoSwitchTest, WithoutDialUpAutoSwitchStillFollowsAndAggressiveOfflineIsTakenAway) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE, DialUp::Absent));
  harness::BoxWatcher boxes(program_->ProcessId());

  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0) << "a connection must go online";
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "the connection's end must go offline";

  size_t redraws = tray_.Count();
  ASSERT_TRUE(program_->Post(harness::Command(MENU_OPTIONS)));
  HWND dialog = harness::WaitForShownDialog(program_->ProcessId(), L"Corvalent Options");
  ASSERT_NE(dialog, nullptr);
  // The dialog exists before its controls do; DialogBox shows it once they are set up.
  ASSERT_TRUE(harness::WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }));
  HWND aggressive = GetDlgItem(dialog, AGGRESSIVE_OFFLINE_BOX);
  ASSERT_NE(aggressive, nullptr);
  EXPECT_FALSE(IsWindowEnabled(aggressive));
  EXPECT_EQ(SendMessageW(aggressive, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(OPTIONS_CANCEL_BUTTON, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, OPTIONS_CANCEL_BUTTON)));
  // The refresh after the dialog comes after the library has saved the settings.
  ASSERT_TRUE(tray_.WaitForCount(redraws + 1));
  std::optional<DWORD> stored = harness::ReadSettingsWord(L"Options");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(*stored & NO_DIALUP, NO_DIALUP);
  EXPECT_EQ(*stored & AGGRESSIVE_OFFLINE, 0u);
  EXPECT_EQ(*stored & AUTOSWITCH, AUTOSWITCH);
  EXPECT_EQ(boxes.Count(), 0u);
}

// Connectivity bits of the network list, each with whether it means a connection, in an order in which
// every step changes the connection.
const struct {
  LONG connectivity;
  bool connected;
} NETWORK_LIST_STEPS[] = {
    {NLM_CONNECTIVITY_IPV4_SUBNET | NLM_CONNECTIVITY_IPV6_SUBNET, false},
    {NLM_CONNECTIVITY_IPV4_INTERNET, true},
    {NLM_CONNECTIVITY_IPV4_NOTRAFFIC | NLM_CONNECTIVITY_IPV6_NOTRAFFIC, false},
    {NLM_CONNECTIVITY_IPV6_LOCALNETWORK, true},
    {NLM_CONNECTIVITY_DISCONNECTED, false},
    {NLM_CONNECTIVITY_IPV6_INTERNET | NLM_CONNECTIVITY_IPV4_SUBNET, true},
};

TEST_F(AutoSwitchTest, NetworkListDecidesTheConnectionAndWinInetIsAskedOnlyForAggressiveOffline) {
  doubles_.SetWorkingOffline(false);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  doubles_.SetNetworkList(NLM_CONNECTIVITY_IPV4_LOCALNETWORK);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE));
  RefreshTimes(THREE_POLLS);
  EXPECT_FALSE(Offline()) << "a local network on the list is a connection";
  EXPECT_EQ(doubles_.WinInet().connectedCheckCount, 0) << "WinInet asked while the list reports a connection";
  EXPECT_GE(doubles_.NetworkList().connectivityCount, 3);
  EXPECT_EQ(doubles_.NetworkList().createCount, 1) << "one manager for the run";

  for (const auto& step : NETWORK_LIST_STEPS) {
    doubles_.NetworkList().connectivity = step.connectivity;
    EXPECT_GE(RefreshUntil([&] { return Offline() != step.connected; }, 3), 0) << "bits " << step.connectivity;
  }
  doubles_.NetworkList().connectivity = NLM_CONNECTIVITY_DISCONNECTED;
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0);
  Click();
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "Aggressive Offline left online without a network";
}

TEST_F(AutoSwitchTest, UnregisteredNetworkListIsAskedForOnceAndWinInetAnswersForTheRun) {
  doubles_.SetWorkingOffline(false);
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH));
  LONG checks = doubles_.WinInet().connectedCheckCount;
  RefreshTimes(60);  // a minute of the poll timer: twenty polls
  EXPECT_GE(doubles_.WinInet().connectedCheckCount - checks, 20);
  EXPECT_EQ(doubles_.NetworkList().classRequestCount, 1) << "the missing class was asked for again";

  doubles_.SetNetworkList(NLM_CONNECTIVITY_IPV4_INTERNET);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "WinInet stopped answering";
  EXPECT_EQ(doubles_.NetworkList().classRequestCount, 1);
}

TEST_F(AutoSwitchTest, FailedCallOnAMeteredNetworkLeavesTheLastAnswerAndTheNextPollMakesANewList) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  doubles_.SetNetworkList(NLM_CONNECTIVITY_IPV4_INTERNET, NLM_CONNECTION_COST_VARIABLE);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AUTOSWITCH_TOOLTIPS | METERED_OFFLINE));
  ExpectRedraw(tray_.Records().back(), AUTO_OFFLINE_PICTURE, L"Working Offline. AutoSwitch On (Metered)");
  size_t redraws = tray_.Count();
  LONG made = doubles_.NetworkList().createCount;
  // Every object fails from its second poll on: the held one fails the next poll, a new one answers.
  doubles_.NetworkList().laterPollsFail = RPC_E_DISCONNECTED;
  RefreshTimes(THREE_POLLS);
  EXPECT_TRUE(Offline());
  EXPECT_EQ(doubles_.WinInet().setCount, 0) << "a failed call switched the state";
  EXPECT_EQ(tray_.Count(), redraws) << "a failed call changed the icon";
  EXPECT_EQ(doubles_.WinInet().connectedCheckCount, 0) << "WinInet answered for the failed list";
  EXPECT_GE(doubles_.NetworkList().createCount - made, 1) << "no new list after the failure";
}

TEST_F(AutoSwitchTest, UnknownInternetCostLeavesTheCostToTheConnectedNetworks) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetNetworkList(NLM_CONNECTIVITY_DISCONNECTED);
  NetworkListDoubleState& list = doubles_.NetworkList();
  list.costAnswered = 1;
  list.connectionCount = 2;
  list.connectionCost[0] = NLM_CONNECTION_COST_FIXED;  // not connected: does not count
  list.connectionConnected[1] = 1;
  list.connectionCost[1] = NLM_CONNECTION_COST_UNRESTRICTED;
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | METERED_OFFLINE));
  list.connectivity = NLM_CONNECTIVITY_IPV4_LOCALNETWORK;
  EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0) << "a metered network that is not connected counted";
  list.connectionCost[1] = NLM_CONNECTION_COST_VARIABLE;
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "a connected metered network did not count";
}

TEST_F(AutoSwitchTest, MeteredConnectionCountsAsNoneWithTheOptionAndTheTipSaysSo) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetNetworkList(NLM_CONNECTIVITY_DISCONNECTED, NLM_CONNECTION_COST_FIXED);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AUTOSWITCH_TOOLTIPS | METERED_OFFLINE));
  size_t from = tray_.Count();
  doubles_.NetworkList().connectivity = NLM_CONNECTIVITY_IPV4_INTERNET;
  EXPECT_GE(RefreshUntil([&] { return tray_.Count() > from; }, 3), 0) << "joining a metered network is not shown";
  ExpectRedraw(tray_.Records().back(), AUTO_OFFLINE_PICTURE, L"Working Offline. AutoSwitch On (Metered)");

  for (LONG metered : std::initializer_list<LONG>{NLM_CONNECTION_COST_FIXED, NLM_CONNECTION_COST_VARIABLE,
                                                 NLM_CONNECTION_COST_UNRESTRICTED | NLM_CONNECTION_COST_ROAMING,
                                                 NLM_CONNECTION_COST_UNRESTRICTED | NLM_CONNECTION_COST_OVERDATALIMIT}) {
    doubles_.NetworkList().cost = NLM_CONNECTION_COST_UNRESTRICTED | NLM_CONNECTION_COST_APPROACHINGDATALIMIT;
    EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0) << "unmetered after " << metered;
    doubles_.NetworkList().cost = metered;
    EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "cost " << metered;
  }
  // Without a cost (before Windows 8) the option has no effect.
  doubles_.NetworkList().costAnswered = 0;
  EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0) << "no cost kept it offline";
}

TEST_F(AutoSwitchTest, MeteredConnectionIsAConnectionWithoutTheOption) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetNetworkList(NLM_CONNECTIVITY_DISCONNECTED, NLM_CONNECTION_COST_VARIABLE);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH));
  doubles_.NetworkList().connectivity = NLM_CONNECTIVITY_IPV6_INTERNET;
  EXPECT_GE(RefreshUntil([&] { return !Offline(); }, 3), 0);
  EXPECT_EQ(doubles_.NetworkList().costCount, 0) << "the cost is asked for only with the option";
}

// A dial-up library that lacks one of its two entry points is not bound at all: AutoSwitch goes on,
// Aggressive Offline is taken away, and nothing of the library is called.
class MissingDialUpEntryTest : public AutoSwitchTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(MissingDialUpEntryTest, TakesAggressiveOfflineAwayAndCallsNothing) {
  doubles_.SetWorkingOffline(true);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  ASSERT_NO_FATAL_FAILURE(StartProgram(AUTOSWITCH | AGGRESSIVE_OFFLINE, DialUp::Double, GetParam()));
  Click();
  RefreshTimes(THREE_POLLS);
  EXPECT_FALSE(Offline()) << "Aggressive Offline still forces offline";
  EXPECT_EQ(doubles_.DialUp().enumCount, 0);
  EXPECT_EQ(doubles_.DialUp().statusCount, 0);
  doubles_.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  RefreshTimes(THREE_POLLS);
  doubles_.SetConnection(FALSE, INTERNET_CONNECTION_LAN);
  EXPECT_GE(RefreshUntil([&] { return Offline(); }, 3), 0) << "AutoSwitch no longer follows the connection";
}

INSTANTIATE_TEST_SUITE_P(Libraries, MissingDialUpEntryTest,
                         ::testing::Values(L"noenum\\rasapi32.dll", L"nostatus\\rasapi32.dll"),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                           return info.index == 0 ? "WithoutRasEnumConnections" : "WithoutRasGetConnectStatus";
                         });

}  // namespace
