// Self-test of Stage and Program with harness_helper.exe staged as Corvalent.exe: exit codes, kills,
// the child's DLL overrides and doubles, and messages to its "Corvalent" window. Part of harness_test.
#include <gtest/gtest.h>

#include "harness.h"

#include <ras.h>
#include <wininet.h>

using namespace harness;

namespace {

// Exit codes of harness_helper.exe (see harness_helper.cpp).
const DWORD HELPER_LOAD_FAILED = 1000;
const DWORD HELPER_HOTKEY_BASE = 10000;
const DWORD HELPER_TIMER_BASE = 20000;
const DWORD HELPER_TASKBAR_CREATED = 30000;

StageOptions HelperStage(Library library = Library::WithoutEntry, DialUp dialUp = DialUp::Double) {
  StageOptions options;
  options.program = JoinPath(TestsFolder(), L"harness_helper.exe");
  options.library = library;
  options.dialUp = dialUp;
  return options;
}

TEST(Stage, HoldsTheChosenFilesAndIsRemovedAfterwards) {
  std::wstring folder;
  {
    Stage stage(HelperStage());
    ASSERT_TRUE(stage.Ready()) << stage.Error();
    folder = stage.Folder();
    EXPECT_TRUE(FileExists(stage.ProgramPath()));
    EXPECT_TRUE(FileExists(stage.PathOf(L"CVConfig.dll")));
    EXPECT_TRUE(FileExists(stage.PathOf(L"wininet.dll")));
    EXPECT_TRUE(FileExists(stage.PathOf(L"rasapi32.dll")));
    EXPECT_EQ(stage.DllOverrides(), L"wininet=n;rasapi32=n");
    EXPECT_TRUE(stage.Remove(L"CVConfig.dll"));
    EXPECT_FALSE(FileExists(stage.PathOf(L"CVConfig.dll")));
  }
  EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Stage, LeavesOutWhatIsNotChosen) {
  StageOptions options = HelperStage(Library::Absent, DialUp::Absent);
  options.winInetDouble = false;
  Stage stage(options);
  ASSERT_TRUE(stage.Ready()) << stage.Error();
  EXPECT_FALSE(FileExists(stage.PathOf(L"CVConfig.dll")));
  EXPECT_FALSE(FileExists(stage.PathOf(L"wininet.dll")));
  EXPECT_FALSE(FileExists(stage.PathOf(L"rasapi32.dll")));
  EXPECT_EQ(stage.DllOverrides(), L"rasapi32=");
  EXPECT_EQ(Stage(HelperStage(Library::Absent, DialUp::Wine)).DllOverrides(), L"wininet=n");
}

TEST(Stage, ReportsAFileThatCannotBeStaged) {
  StageOptions options = HelperStage();
  options.program = L"C:\\no\\such\\Corvalent.exe";
  Stage stage(options);
  EXPECT_FALSE(stage.Ready());
  EXPECT_NE(stage.Error().find(L"no\\such"), std::wstring::npos);
}

TEST(Program, ReportsTheExitCode) {
  Stage stage(HelperStage());
  Program program(stage);
  ASSERT_TRUE(program.Start(L"exit 7")) << program.Error();
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(7));
  EXPECT_FALSE(program.Running());
}

TEST(Program, ProgramThatDoesNotEndIsKilledWhenTheTestLetsGo) {
  Stage stage(HelperStage());
  HANDLE process = nullptr;
  {
    Program program(stage);
    ASSERT_TRUE(program.Start(L"hang")) << program.Error();
    EXPECT_FALSE(program.WaitForExit(100));
    EXPECT_TRUE(program.Running());
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), program.Process(), GetCurrentProcess(), &process,
                                SYNCHRONIZE, FALSE, 0));
  }
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
  CloseHandle(process);
}

TEST(Program, WithoutTheWinInetDoubleTheChildGetsWinesWinInet) {
  DoubleState state;
  state.SetWorkingOffline(true);
  StageOptions options = HelperStage();
  options.winInetDouble = false;
  Stage stage(options);
  Program program(stage);
  ASSERT_TRUE(program.Start(L"query")) << program.Error();
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(INTERNET_STATE_CONNECTED));
  EXPECT_EQ(state->wininet.queryCount, 0);
}

TEST(Program, StartRefusesWhileTheTestProcessHasDllOverrides) {
  Stage stage(HelperStage());
  Program program(stage);
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"wininet=n");
  bool started = program.Start(L"exit 0");
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", nullptr);
  EXPECT_FALSE(started);
  EXPECT_NE(program.Error().find(L"WINEDLLOVERRIDES"), std::wstring::npos);
}

TEST(Program, ChildUsesTheWinInetDoubleAndItsState) {
  DoubleState state;
  ASSERT_TRUE(state.Ready());
  state.SetWorkingOffline(true);
  Stage stage(HelperStage());
  Program program(stage);
  ASSERT_TRUE(program.Start(L"query")) << program.Error();
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(INTERNET_STATE_DISCONNECTED_BY_USER));
  EXPECT_EQ(state->wininet.queryCount, 1);
  EXPECT_EQ(state->wininet.violationCount, 0);
}

TEST(Program, ChildUsesTheDialUpDouble) {
  DoubleState state;
  ASSERT_TRUE(state.Ready());
  state.SetDialUpConnections({RASCS_Connected, RASCS_Connected});
  Stage stage(HelperStage());
  Program program(stage);
  ASSERT_TRUE(program.Start(L"dialup")) << program.Error();
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(2));
  EXPECT_EQ(state->dialUp.enumCount, 1);
}

TEST(Program, AbsentDialUpLibraryCannotBeLoaded) {
  DoubleState state;
  Stage stage(HelperStage(Library::WithoutEntry, DialUp::Absent));
  Program program(stage);
  ASSERT_TRUE(program.Start(L"dialup")) << program.Error();
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(HELPER_LOAD_FAILED));
  EXPECT_EQ(state->dialUp.enumCount, 0);
}

TEST(Program, WinesOwnDialUpLibraryIsNotTheDouble) {
  DoubleState state;
  Stage stage(HelperStage(Library::WithoutEntry, DialUp::Wine));
  Program program(stage);
  ASSERT_TRUE(program.Start(L"dialup")) << program.Error();
  EXPECT_TRUE(program.WaitForExit());
  EXPECT_EQ(state->dialUp.enumCount, 0);
}

TEST(Program, MainWindowAnswersASentTrayCallback) {
  Stage stage(HelperStage());
  Program program(stage);
  ASSERT_TRUE(program.Start(L"window")) << program.Error();
  HWND window = program.WaitForMainWindow();
  ASSERT_TRUE(window);
  EXPECT_EQ(WindowClass(window), L"Corvalent");
  EXPECT_EQ(program.Send(TrayCallback(WM_LBUTTONDOWN)), std::optional<LRESULT>(WM_LBUTTONDOWN + 1));
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(WM_LBUTTONDOWN));
}

TEST(Program, PostedMessagesReachTheMainWindow) {
  struct Case {
    Message message;
    DWORD exitCode;
  };
  const Case cases[] = {
      {TrayCallback(WM_RBUTTONDOWN), WM_RBUTTONDOWN},
      {Command(40002), 40002},
      {HotKey(0, MOD_CONTROL, 'O'), HELPER_HOTKEY_BASE},
      {Timer(108), HELPER_TIMER_BASE + 108},
      {TaskbarCreated(), HELPER_TASKBAR_CREATED},
  };
  Stage stage(HelperStage());
  for (const Case& c : cases) {
    Program program(stage);
    ASSERT_TRUE(program.Start(L"window")) << program.Error();
    ASSERT_TRUE(program.WaitForMainWindow());
    EXPECT_TRUE(program.Post(c.message));
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(c.exitCode)) << "message " << c.message.message;
  }
}

TEST(Program, WaitForMainWindowStopsWhenTheProgramEnds) {
  Stage stage(HelperStage());
  Program program(stage);
  ASSERT_TRUE(program.Start(L"exit 1")) << program.Error();
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(program.WaitForMainWindow(30000), nullptr);
  EXPECT_LT(GetTickCount64() - start, 10000u);
  EXPECT_FALSE(program.Post(Command(40006)));
  EXPECT_FALSE(program.Send(Command(40006)));
}

TEST(Program, StartFailsClearlyWithoutTheProgramFile) {
  Stage stage(HelperStage());
  ASSERT_TRUE(stage.Remove(L"Corvalent.exe"));
  Program program(stage);
  EXPECT_FALSE(program.Start());
  EXPECT_NE(program.Error().find(L"CreateProcessW failed"), std::wstring::npos);
}

TEST(TopWindowSearch, FindsAWindowByProcessClassAndTitle) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"HarnessFindMe";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"HarnessFindMe", L"Find me", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  ASSERT_TRUE(window);
  EXPECT_EQ(WaitForTopWindow(GetCurrentProcessId(), L"HarnessFindMe", L"Find me"), window);
  EXPECT_EQ(FindTopWindow(0, L"HarnessFindMe", nullptr), window);
  EXPECT_EQ(FindTopWindow(GetCurrentProcessId(), L"HarnessFindMe", L"Other title"), nullptr);
  EXPECT_EQ(WaitForTopWindow(GetCurrentProcessId() + 4, L"HarnessFindMe", nullptr, 100), nullptr);
  DestroyWindow(window);
}

TEST(TopWindowSearch, DialogCountsOnlyOnceShown) {
  HWND dialog = CreateWindowExW(0, L"#32770", L"Shown later", WS_POPUP | WS_CAPTION, 0, 0, 100, 50, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(WaitForShownDialog(GetCurrentProcessId(), L"Shown later", 100), nullptr) << "found while hidden";
  ShowWindow(dialog, SW_SHOWNOACTIVATE);
  EXPECT_EQ(WaitForShownDialog(GetCurrentProcessId(), L"Shown later"), dialog);
  EXPECT_EQ(WaitForShownDialog(GetCurrentProcessId() + 4, L"Shown later", 100), nullptr);
  DestroyWindow(dialog);
}

}  // namespace
