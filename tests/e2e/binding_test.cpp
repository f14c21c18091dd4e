// End-to-end tests of the tray program's binding to CVConfig: a missing library, a library without
// its entry point, and calls refused while the About box is open. Part of the e2e_binding test program.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <functional>
#include <optional>
#include <string>

#include "harness.h"
#include "../../config/cvconfig.h"
#include "../../resources/corvalent_res.h"
#include "../../tray/window.h"

using namespace harness;

namespace {

const wchar_t kShellFoldersPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders";
const wchar_t kMissingLibraryTitle[] = L"Missing Corvalent DLL file";
const wchar_t kMissingLibraryText[] = L"Couldn't load CVConfig.DLL\n\nPlease re-install Corvalent.";
const DWORD CTRL_ALT_T = (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'T';
const int ABOUT_OK_BUTTON = 1019;  // the About box's OK, a control of CVConfig.dll

void DeleteSettings() {
  harness::DeleteSettingsKey();
}

bool WriteSettings(const Settings& record) {
  return harness::WriteSettingsKey(record.options, record.startupMode, record.hotKey, record.delay);
}

// Whether the process has a module of that file name loaded; nothing when it can't be asked.
std::optional<bool> ModuleLoaded(DWORD processId, const wchar_t* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  MODULEENTRY32W module = {};
  module.dwSize = sizeof(module);
  bool found = false;
  bool any = false;
  for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
    any = true;
    if (lstrcmpiW(module.szModule, name) == 0) found = true;
  }
  CloseHandle(snapshot);
  if (!any) return std::nullopt;
  return found;
}

// True when some window holds the combination: a window of the test can't register it.
bool HotKeyHeld(UINT modifiers, UINT virtualKey) {
  HWND probe = CreateWindowExW(0, L"Static", L"hot key probe", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                               nullptr);
  bool held = !RegisterHotKey(probe, 1, modifiers, virtualKey);
  if (!held) UnregisterHotKey(probe, 1);
  DestroyWindow(probe);
  return held;
}

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles.Ready());
    ASSERT_TRUE(tray.Ready());
    DeleteSettings();
  }
  void TearDown() override { DeleteSettings(); }

  // Starts the program of the stage and waits for its window and its first tray records.
  void Start(Program* program) {
    ASSERT_TRUE(program->Start()) << std::string(program->Error().begin(), program->Error().end());
    boxes.emplace(program->ProcessId());
  }

  HWND WaitForTray(Program* program) {
    HWND main = program->WaitForMainWindow();
    if (!main) return nullptr;
    // The add and the refresh that follows it.
    if (!tray.WaitForMatch([&](const TrayRecord& r) { return r.message == NIM_ADD && r.window == main; })) return nullptr;
    if (!tray.WaitForMatch([&](const TrayRecord& r) { return IsModify(r) && r.window == main; })) return nullptr;
    return main;
  }

  void Exit(Program* program) {
    EXPECT_TRUE(program->Send(Command(IDM_EXIT)));
    EXPECT_EQ(program->WaitForExit(), std::optional<DWORD>(0));
  }

  DoubleState doubles;
  TrayRecorder tray;
  std::optional<BoxWatcher> boxes;
};

void ExpectMissingLibraryBox(const std::optional<BoxRecord>& box, HWND owner) {
  ASSERT_TRUE(box);
  EXPECT_EQ(box->title, kMissingLibraryTitle);
  EXPECT_EQ(box->text, kMissingLibraryText);
  EXPECT_TRUE(box->OnlyOk());
  EXPECT_EQ(box->icon, BoxIcon::Warning) << BoxIconName(box->icon);
  EXPECT_EQ(box->owner, owner);
}

void ExpectMissingProcBox(const std::optional<BoxRecord>& box, HWND owner) {
  ASSERT_TRUE(box);
  EXPECT_EQ(box->title, L"Missing Proc");
  EXPECT_EQ(box->text, L"Couldn't get Interface Proc Address");
  EXPECT_TRUE(box->OnlyOk());
  EXPECT_EQ(box->icon, BoxIcon::Warning) << BoxIconName(box->icon);
  EXPECT_EQ(box->owner, owner);
}

TEST_F(BindingTest, MissingLibraryIsReportedAtStartAndAtOptionsAndTheProgramRunsWithDefaults) {
  // Settings that would show in the tray and take the hot key if they were loaded.
  ASSERT_TRUE(WriteSettings(Settings{OPT_HOTKEY | OPT_AUTOSWITCH | OPT_AUTOSWITCH_TOOLTIPS, 0, CTRL_ALT_T, 8}));
  StageOptions options;
  options.library = Library::Absent;
  Stage stage(options);
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  Start(&program);

  ExpectMissingLibraryBox(boxes->WaitForBox(0), nullptr);
  HWND main = WaitForTray(&program);
  ASSERT_TRUE(main);
  std::optional<IconPicture> online = PictureOfResource(stage.ProgramPath(), IDI_ONLINE);
  ASSERT_TRUE(online);
  std::vector<TrayRecord> records = tray.Records();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(records[0].tip, L"Working Online");
  EXPECT_EQ(records[0].icon, *online);

  size_t before = tray.Count();
  ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
  ExpectMissingLibraryBox(boxes->WaitForBox(1), main);
  // ShowOptions goes on after the box: its refresh arrives, with the same defaults.
  std::optional<TrayRecord> refresh = tray.WaitForMatch(IsModify, before);
  ASSERT_TRUE(refresh);
  EXPECT_EQ(refresh->tip, L"Working Online");
  EXPECT_EQ(refresh->icon, *online);
  EXPECT_FALSE(HotKeyHeld(MOD_CONTROL | MOD_ALT, 'T'));
  EXPECT_TRUE(program.Running());

  Exit(&program);
  EXPECT_EQ(boxes->Count(), 2u);
}

TEST_F(BindingTest, LibraryWithoutEntryIsReportedAndUnloadedAgain) {
  StageOptions options;
  options.library = Library::WithoutEntry;
  Stage stage(options);
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  Start(&program);

  ExpectMissingProcBox(boxes->WaitForBox(0), nullptr);
  HWND main = WaitForTray(&program);
  ASSERT_TRUE(main);
  std::optional<bool> loaded = ModuleLoaded(program.ProcessId(), L"CVConfig.dll");
  ASSERT_TRUE(loaded) << "the modules of the program can't be listed";
  EXPECT_FALSE(*loaded);

  // The refresh that follows the box, not a late one of the start: counted while the box is open.
  boxes->Hold();
  ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
  ExpectMissingProcBox(boxes->WaitForBox(1), main);
  size_t before = tray.Count();
  boxes->Release();
  ASSERT_TRUE(tray.WaitForMatch(IsModify, before));
  loaded = ModuleLoaded(program.ProcessId(), L"CVConfig.dll");
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(*loaded);
  EXPECT_TRUE(stage.Remove(L"CVConfig.dll")) << "error " << GetLastError();

  // Nothing of the library was kept: the next call looks for the file again and misses it.
  ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
  ExpectMissingLibraryBox(boxes->WaitForBox(2), main);

  Exit(&program);
}

class AboutOpenTest : public BindingTest {
 protected:
  // Opens the About box of the running program and waits until it is shown.
  HWND OpenAbout(Program* program) {
    if (!program->Post(Command(IDM_ABOUT))) return nullptr;
    return WaitForShownDialog(program->ProcessId(), L"About Corvalent", kWaitMs, program->Process());
  }
};

TEST_F(AboutOpenTest, OptionsWhileAboutIsOpenIsRefusedButTheTrayIsStillRefreshed) {
  Stage stage;
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  Start(&program);
  HWND main = WaitForTray(&program);
  ASSERT_TRUE(main);
  std::optional<bool> loaded = ModuleLoaded(program.ProcessId(), L"CVConfig.dll");
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(*loaded) << "the library stays loaded after the start-up load";

  HWND about = OpenAbout(&program);
  ASSERT_TRUE(about);
  loaded = ModuleLoaded(program.ProcessId(), L"CVConfig.dll");
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(*loaded) << "the library is loaded while its About box is open";

  size_t before = tray.Count();
  ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
  std::optional<TrayRecord> refresh = tray.WaitForMatch(IsModify, before);
  ASSERT_TRUE(refresh) << "no forced refresh after the refused Options call";
  EXPECT_EQ(refresh->window, main);
  // The refresh comes after the library call, so a dialog it opened would exist by now.
  EXPECT_EQ(FindTopWindow(program.ProcessId(), L"#32770", L"Corvalent Options"), nullptr);
  EXPECT_EQ(TopWindows(program.ProcessId(), L"#32770").size(), 1u);
  EXPECT_TRUE(IsWindow(about));

  ASSERT_TRUE(PostMessageW(about, WM_COMMAND, MAKEWPARAM(ABOUT_OK_BUTTON, BN_CLICKED), 0));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, program.Process()));
  EXPECT_TRUE(WaitUntil([&] { return ModuleLoaded(program.ProcessId(), L"CVConfig.dll") == false; },
                        program.Process()))
      << "the library stays loaded after the About box closed";
  EXPECT_TRUE(program.Running());

  Exit(&program);
  EXPECT_EQ(boxes->Count(), 0u);
}

// Points the shell's StartUp folder at a folder of the test holding a Corvalent.lnk, and back.
class StartupFolder {
 public:
  StartupFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = JoinPath(temp, L"corvalent-binding-startup-" + std::to_wstring(GetCurrentProcessId()));
    CreateDirectoryW(folder_.c_str(), nullptr);
    HANDLE file = CreateFileW(Shortcut().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFoldersPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    DWORD size = 0;
    hadValue_ = RegQueryValueExW(key_, L"Startup", nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
    if (hadValue_) {
      saved_.resize(size);
      RegQueryValueExW(key_, L"Startup", nullptr, &type_, saved_.data(), &size);
    }
    ready_ = RegSetValueExW(key_, L"Startup", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder_.c_str()),
                            static_cast<DWORD>((folder_.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
             FileExists(Shortcut());
  }
  ~StartupFolder() {
    if (key_) {
      if (hadValue_) {
        RegSetValueExW(key_, L"Startup", 0, type_, saved_.data(), static_cast<DWORD>(saved_.size()));
      } else {
        RegDeleteValueW(key_, L"Startup");
      }
      RegCloseKey(key_);
    }
    DeleteFileW(Shortcut().c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  bool Ready() const { return ready_; }
  std::wstring Shortcut() const { return JoinPath(folder_, L"Corvalent.lnk"); }

 private:
  std::wstring folder_;
  HKEY key_ = nullptr;
  bool hadValue_ = false;
  DWORD type_ = REG_SZ;
  std::vector<BYTE> saved_;
  bool ready_ = false;
};

TEST_F(AboutOpenTest, UninstallWhileAboutIsOpenEndsTheBoxThenUninstallsAndEndsTheProgram) {
  StartupFolder startup;
  ASSERT_TRUE(startup.Ready());
  ASSERT_TRUE(WriteSettings(Settings{OPT_START_WITH_WINDOWS, 2, 0, 8}));
  Stage stage;
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  Start(&program);
  ASSERT_TRUE(WaitForTray(&program));
  HWND about = OpenAbout(&program);
  ASSERT_TRUE(about);

  EXPECT_TRUE(program.Send(Message{MSG_UNINSTALL, 0, 0}));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, program.Process())) << "the About box outlived the request";
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(ReadSettingsWord(L"Options"), std::nullopt) << "the settings key is still there";
  EXPECT_FALSE(FileExists(startup.Shortcut())) << "the shortcut is still there";
  EXPECT_EQ(boxes->Count(), 0u);
}

// ---- Another copy asks the program to end while the library's Options dialog is open.

const Settings kStoredSettings = {OPT_AUTOSWITCH | OPT_START_WITH_WINDOWS | OPT_HOTKEY, 2, CTRL_ALT_T, 30};
const int OPTIONS_AUTOSWITCH_BOX = 1004;  // the "Use AutoSwitch" check box of the Options dialog

class OptionsOpenTest : public BindingTest {
 protected:
  // Starts the program with the stored settings, opens its Options dialog and unchecks
  // "Use AutoSwitch" there, a change that only OK would keep.
  void StartWithChangedDialog() {
    ASSERT_TRUE(WriteSettings(kStoredSettings));
    ASSERT_TRUE(stage.Ready());
    Start(&program);
    ASSERT_TRUE(WaitForTray(&program));
    ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
    // Shown once its controls are made and set from the record.
    dialog = WaitForShownDialog(program.ProcessId(), L"Corvalent Options", kWaitMs, program.Process());
    ASSERT_TRUE(dialog);
    // A posted command is handled only in the message loop, which starts after the hot key's registration.
    ASSERT_TRUE(HotKeyHeld(MOD_CONTROL | MOD_ALT, 'T')) << "the stored hot key was not registered";
    HWND box = GetDlgItem(dialog, OPTIONS_AUTOSWITCH_BOX);
    ASSERT_TRUE(box);
    SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
  }

  // Runs a second copy with the word to its end; it must end with 0, and so must the program.
  void RequestFromSecondCopy(const wchar_t* word) {
    Program second(stage);
    ASSERT_TRUE(second.Start(word));
    EXPECT_EQ(second.WaitForExit(), std::optional<DWORD>(0)) << "the second copy hangs or failed";
    EXPECT_FALSE(program.Running()) << "the second copy ended before the program";
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0)) << "the program did not end cleanly";
  }

  // Every stored word as it was before the dialog opened.
  void ExpectSettingsKept() {
    EXPECT_EQ(ReadSettingsWord(L"Options"), std::optional<DWORD>(kStoredSettings.options));
    EXPECT_EQ(ReadSettingsWord(L"Startup Mode"), std::optional<DWORD>(kStoredSettings.startupMode));
    EXPECT_EQ(ReadSettingsWord(L"HotKey"), std::optional<DWORD>(kStoredSettings.hotKey));
    EXPECT_EQ(ReadSettingsWord(L"Delay"), std::optional<DWORD>(kStoredSettings.delay));
  }

  // The icon gone, the hot key free, the dialog ended and no box shown.
  void ExpectEndedCleanly() {
    EXPECT_TRUE(tray.WaitForMatch([](const TrayRecord& r) { return r.message == NIM_DELETE; }))
        << "the tray icon was not removed";
    EXPECT_FALSE(HotKeyHeld(MOD_CONTROL | MOD_ALT, 'T')) << "the hot key is still held";
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(boxes->Count(), 0u);
  }

  Stage stage;
  Program program{stage};
  HWND dialog = nullptr;
};

TEST_F(OptionsOpenTest, ExitFromAnotherCopyEndsTheProgramWithoutSavingTheDialog) {
  StartWithChangedDialog();
  RequestFromSecondCopy(L"exit");
  ExpectSettingsKept();
  ExpectEndedCleanly();
}

TEST_F(OptionsOpenTest, UninstallFromAnotherCopyEndsTheDialogThenUninstalls) {
  StartupFolder startup;
  ASSERT_TRUE(startup.Ready());
  StartWithChangedDialog();
  RequestFromSecondCopy(L"uninstall");
  EXPECT_EQ(ReadSettingsWord(L"Options"), std::nullopt) << "the settings key is still there";
  EXPECT_FALSE(FileExists(startup.Shortcut())) << "the shortcut is still there";
  ExpectEndedCleanly();
}

}  // namespace
