// Runs the setup program of this build (<build>\dist\*-setup.exe) and its uninstaller as a user
// would, and checks what they leave: files, shortcuts, the Apps & features entry, settings, the program.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "harness.h"

namespace {

using harness::JoinPath;
using harness::kWaitMs;

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvalent";
const wchar_t kMakerKey[] = L"Software\\Bramlow Software";
const wchar_t kSettingsKey[] = L"Software\\Bramlow Software\\Corvalent";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders";
const wchar_t kSettingsValues[][16] = {L"Options", L"Startup Mode", L"HotKey", L"Delay"};
const UINT kMsgExit = 1026;       // the program's MSG_EXIT, what "exit" sends to a running copy
const DWORD kSetupMs = 60000;     // one run of the setup program or the uninstaller
// The setup's exit codes when it refuses; none is one of NSIS's own (1 cancelled, 2 stopped).
const DWORD kSetupRunning = 3;
const DWORD kCopyRunning = 4;
const DWORD kBadFolder = 5;

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH];
  return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : L"";
}

std::wstring DefaultFolder() {
  return JoinPath(KnownFolder(CSIDL_LOCAL_APPDATA), L"Programs\\Corvalent");
}

std::wstring StartMenuShortcut() {
  return JoinPath(KnownFolder(CSIDL_PROGRAMS), L"Corvalent.lnk");
}

std::optional<std::wstring> ReadString(const wchar_t* keyPath, const wchar_t* name) {
  wchar_t text[1024];
  DWORD size = sizeof(text);
  if (RegGetValueW(HKEY_CURRENT_USER, keyPath, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(text);
}

std::optional<DWORD> ReadDword(const wchar_t* keyPath, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, keyPath, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool KeyExists(const wchar_t* keyPath) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The StartUp shortcut where the program puts it: the "Startup" value of Shell folders.
std::wstring StartupShortcut() {
  return JoinPath(ReadString(kShellFolders, L"Startup").value_or(L""), L"Corvalent.lnk");
}

bool FolderExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::wstring SetupProgram() {
  WIN32_FIND_DATAW found;
  std::wstring dist = JoinPath(harness::BuildFolder(), L"dist");
  HANDLE search = FindFirstFileW(JoinPath(dist, L"*-setup.exe").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return L"";
  FindClose(search);
  return JoinPath(dist, found.cFileName);
}

// The target of a shell link, read through the shell's link object.
std::wstring LinkTarget(const std::wstring& link) {
  std::wstring target;
  CoInitialize(nullptr);
  IShellLinkW* shellLink = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&shellLink)))) {
    IPersistFile* file = nullptr;
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      // The item list, as the shell starts it: Wine keeps the link info's path in the ANSI code page only.
      LPITEMIDLIST items = nullptr;
      if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetIDList(&items)) && items &&
          SHGetPathFromIDListW(items, path)) {
        target = path;
      }
      CoTaskMemFree(items);
      file->Release();
    }
    shellLink->Release();
  }
  CoUninitialize();
  return target;
}

// The four settings values as raw bytes, to compare before and after.
std::vector<std::vector<BYTE>> SettingsValues() {
  std::vector<std::vector<BYTE>> values;
  for (const wchar_t* name : kSettingsValues) {
    std::vector<BYTE> bytes(16);
    DWORD size = static_cast<DWORD>(bytes.size());
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY, nullptr, bytes.data(), &size) != ERROR_SUCCESS) {
      size = 0;
    }
    bytes.resize(size);
    values.push_back(bytes);
  }
  return values;
}

std::wstring ImageOf(HANDLE process) {
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  return QueryFullProcessImageNameW(process, 0, path, &length) ? std::wstring(path, length) : L"";
}

// A process started from a command line, in a job of its own so that its children count too;
// whatever still runs in the job is ended with the object.
class Started {
 public:
  explicit Started(const std::wstring& commandLine) {
    job_ = CreateJobObjectW(nullptr, nullptr);
    port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {this, port_};
    SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &link, sizeof(link));
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &started)) {
      return;
    }
    AssignProcessToJobObject(job_, started.hProcess);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process_ = started.hProcess;
  }
  ~Started() {
    if (process_ && !allEnded_) {
      TerminateJobObject(job_, 255);
      WaitForAllEnded(kWaitMs);
    }
    if (process_) CloseHandle(process_);
    CloseHandle(port_);
    CloseHandle(job_);
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  HANDLE Process() const { return process_; }
  DWORD ProcessId() const { return process_ ? GetProcessId(process_) : 0; }
  // The exit code of the process itself; nothing on timeout.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = kSetupMs) const {
    DWORD code = 0;
    if (!process_ || harness::WaitPumpingSent(process_, timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_, &code)) {
      return std::nullopt;
    }
    return code;
  }
  // Waits until the process and every process it started have ended (an uninstaller hands its
  // work to a copy of itself and returns at once).
  bool WaitForAllEnded(DWORD timeoutMs = kSetupMs) {
    DWORD message;
    ULONG_PTR key;
    LPOVERLAPPED data;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (ULONGLONG now; (now = GetTickCount64()) < deadline;) {
      if (!GetQueuedCompletionStatus(port_, &message, &key, &data, static_cast<DWORD>(deadline - now))) return false;
      if (key == reinterpret_cast<ULONG_PTR>(this) && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
        allEnded_ = true;
        return true;
      }
    }
    return false;
  }

 private:
  HANDLE job_ = nullptr;
  HANDLE port_ = nullptr;
  HANDLE process_ = nullptr;
  bool allEnded_ = false;  // the job's last process has ended (its message is sent once)
};

// Ends every running Corvalent (as "exit" does) and waits for each process to end.
void EndRunningCopies() {
  for (HWND window; (window = FindWindowW(L"Corvalent", nullptr)) != nullptr;) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    DWORD_PTR result;
    SendMessageTimeoutW(window, kMsgExit, 0, 0, SMTO_NORMAL, kWaitMs, &result);
    if (process && WaitForSingleObject(process, kWaitMs) != WAIT_OBJECT_0) TerminateProcess(process, 255);
    if (process) CloseHandle(process);
  }
}

void RemoveFolder(const std::wstring& folder) {
  for (const wchar_t* name : {L"Corvalent.exe", L"CVConfig.dll", L"Uninstall.exe"}) {
    DeleteFileW(JoinPath(folder, name).c_str());
  }
  RemoveDirectoryW(folder.c_str());
}

// Whatever an earlier test or run left of Corvalent in the prefix, removed without the uninstaller;
// and the DLL overrides that the end-to-end tests leave for Corvalent.exe, so that the installed
// program runs with Wine's own libraries.
void RemoveEverything() {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Corvalent.exe");
  EndRunningCopies();
  RemoveFolder(DefaultFolder());
  DeleteFileW(StartMenuShortcut().c_str());
  DeleteFileW(StartupShortcut().c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
  RegDeleteTreeW(HKEY_CURRENT_USER, kMakerKey);
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    setup_ = SetupProgram();
    ASSERT_FALSE(setup_.empty()) << "no setup program in " << JoinPath(harness::BuildFolder(), L"dist")
                                 << ": install nsis (scripts/install-deps.sh) and build again";
    RemoveEverything();
  }
  // Copies of the program that the setup started are ended through "exit" before their jobs go.
  void TearDown() override {
    RemoveEverything();
    started_.clear();
  }

  // Starts a command line; what it starts lives until the end of the test.
  Started& Start(const std::wstring& commandLine) {
    started_.push_back(std::make_unique<Started>(commandLine));
    return *started_.back();
  }

  std::optional<DWORD> RunToEnd(const std::wstring& commandLine) { return Start(commandLine).WaitForExit(); }

  std::wstring SetupCommand(const std::wstring& arguments) const {
    return L"\"" + setup_ + L"\" " + arguments;
  }

  void InstallSilently() {
    ASSERT_EQ(RunToEnd(SetupCommand(L"/S")), 0u);
    ASSERT_TRUE(harness::FileExists(InstalledProgram()));
  }

  static std::wstring InstalledProgram() { return JoinPath(DefaultFolder(), L"Corvalent.exe"); }

  // Starts the installed program with no words and waits for its window.
  Started* StartInstalled(const std::wstring& path = InstalledProgram()) {
    Started* program = &Start(L"\"" + path + L"\"");
    if (!harness::WaitForTopWindow(program->ProcessId(), L"Corvalent", nullptr, kWaitMs, program->Process())) {
      ADD_FAILURE() << "the installed program shows no window";
    }
    return program;
  }

  // Through the running copy's Options dialog: "Start with Windows" checked and OK, which writes
  // the StartUp shortcut and the settings key.
  void MakeSettingsThroughOptions(DWORD processId, const std::wstring& path = InstalledProgram()) {
    ASSERT_EQ(RunToEnd(L"\"" + path + L"\" options"), 0u);
    HWND dialog = harness::WaitForTopWindow(processId, L"#32770", L"Corvalent Options");
    ASSERT_NE(dialog, nullptr) << "the Options dialog did not open";
    ASSERT_TRUE(harness::WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; })) << "the dialog is not shown";
    DWORD_PTR result;
    ASSERT_TRUE(SendMessageTimeoutW(FindWindowExW(dialog, nullptr, L"Button", L"Start with &Windows"), BM_CLICK, 0,
                                    0, SMTO_NORMAL, kWaitMs, &result));
    ASSERT_TRUE(SendMessageTimeoutW(FindWindowExW(dialog, nullptr, L"Button", L"OK"), BM_CLICK, 0, 0, SMTO_NORMAL,
                                    kWaitMs, &result));
    ASSERT_TRUE(harness::WaitUntil([&] { return !IsWindow(dialog); }));
    ASSERT_EQ(LinkTarget(StartupShortcut()), path);
    // The library writes the settings once its dialog has gone, in the program's own process.
    ASSERT_TRUE(harness::WaitUntil([] { return KeyExists(kSettingsKey); })) << "no settings key";
  }

  // Runs the uninstaller as Apps & features does with its QuietUninstallString.
  void UninstallQuietly() {
    std::optional<std::wstring> command = ReadString(kUninstallKey, L"QuietUninstallString");
    ASSERT_TRUE(command.has_value()) << "no QuietUninstallString";
    ASSERT_TRUE(Start(*command).WaitForAllEnded()) << "the uninstaller did not end";
  }

  // Nothing of Corvalent is left in the default folder, the shortcuts and the registry.
  static void ExpectNothingLeft() {
    EXPECT_FALSE(FolderExists(DefaultFolder())) << DefaultFolder();
    EXPECT_FALSE(harness::FileExists(StartMenuShortcut())) << StartMenuShortcut();
    EXPECT_FALSE(harness::FileExists(StartupShortcut())) << StartupShortcut();
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_FALSE(KeyExists(kSettingsKey));
    EXPECT_FALSE(KeyExists(kMakerKey));
    EXPECT_EQ(FindWindowW(L"Corvalent", nullptr), nullptr) << "a copy of Corvalent still runs";
  }

  // The setup's main window (its pages, titled "Corvalent Setup" and the page's subtitle), waiting
  // for it; names the windows the process has when it is missing.
  static HWND WaitForSetupWindow(const Started& setup) {
    HWND window = nullptr;
    harness::WaitUntil(
        [&] {
          for (HWND dialog : harness::TopWindows(setup.ProcessId(), L"#32770")) {
            if (harness::WindowText(dialog).rfind(L"Corvalent Setup", 0) == 0) window = dialog;
          }
          return window != nullptr;
        },
        setup.Process());
    if (!window) {
      for (HWND other : harness::TopWindows(setup.ProcessId(), nullptr)) {
        ADD_FAILURE() << "window of class " << harness::WindowClass(other) << " titled \""
                      << harness::WindowText(other) << "\"";
      }
    }
    return window;
  }

  std::wstring setup_;
  std::vector<std::unique_ptr<Started>> started_;
};

TEST_F(Setup, SilentInstallPutsFilesShortcutAndEntryInPlace) {
  InstallSilently();
  std::wstring folder = DefaultFolder();
  for (const wchar_t* name : {L"Corvalent.exe", L"CVConfig.dll"}) {
    std::string built = FileBytes(JoinPath(harness::BinFolder(), name));
    ASSERT_FALSE(built.empty()) << name;
    EXPECT_EQ(FileBytes(JoinPath(folder, name)), built) << name << " differs from the build's";
  }
  EXPECT_TRUE(harness::FileExists(JoinPath(folder, L"Uninstall.exe")));
  EXPECT_EQ(LinkTarget(StartMenuShortcut()), InstalledProgram());

  std::wstring uninstaller = L"\"" + JoinPath(folder, L"Uninstall.exe") + L"\"";
  struct TextValue {
    const wchar_t* name;
    std::wstring expected;
  };
  for (const TextValue& value : std::vector<TextValue>{
           {L"DisplayName", L"Corvalent"},
           {L"DisplayVersion", L"2.02"},
           {L"Publisher", L"Bramlow Software"},
           {L"DisplayIcon", InstalledProgram() + L",0"},
           {L"InstallLocation", folder},
           {L"UninstallString", uninstaller},
           {L"QuietUninstallString", uninstaller + L" /S"}}) {
    EXPECT_EQ(ReadString(kUninstallKey, value.name), value.expected) << value.name;
  }
  EXPECT_EQ(ReadDword(kUninstallKey, L"NoModify"), 1u);
  EXPECT_EQ(ReadDword(kUninstallKey, L"NoRepair"), 1u);
  DWORD kilobytes = static_cast<DWORD>(
      (FileBytes(InstalledProgram()).size() + FileBytes(JoinPath(folder, L"CVConfig.dll")).size()) / 1024);
  std::optional<DWORD> estimated = ReadDword(kUninstallKey, L"EstimatedSize");
  ASSERT_TRUE(estimated.has_value());
  EXPECT_GE(*estimated, kilobytes);
  EXPECT_LE(*estimated, kilobytes + 2);
}

TEST_F(Setup, InstalledProgramStartsAndShowsItsIcon) {
  InstallSilently();
  harness::TrayRecorder tray;
  ASSERT_TRUE(tray.Ready());
  Started* program = StartInstalled();
  EXPECT_EQ(ImageOf(program->Process()), InstalledProgram());
  std::optional<harness::TrayRecord> added = tray.WaitForMatch([&](const harness::TrayRecord& record) {
    DWORD owner = 0;
    GetWindowThreadProcessId(record.window, &owner);
    return record.message == NIM_ADD && owner == program->ProcessId();
  });
  ASSERT_TRUE(added.has_value()) << "the installed program added no icon";
  EXPECT_FALSE(added->icon.Empty());
}

TEST_F(Setup, UpgradeWhileRunningEndsTheOldCopyAndStartsTheNewWithSettingsKept) {
  InstallSilently();
  Started* old = StartInstalled();
  MakeSettingsThroughOptions(old->ProcessId());
  std::vector<std::vector<BYTE>> settings = SettingsValues();

  ASSERT_EQ(RunToEnd(SetupCommand(L"/S")), 0u) << "the upgrade failed";
  EXPECT_EQ(WaitForSingleObject(old->Process(), 0), WAIT_OBJECT_0) << "the old copy still runs after the upgrade";
  HWND window = harness::WaitForTopWindow(0, L"Corvalent", nullptr);
  ASSERT_NE(window, nullptr) << "no copy runs after the upgrade";
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  EXPECT_NE(processId, old->ProcessId());
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  EXPECT_EQ(ImageOf(process), InstalledProgram());
  CloseHandle(process);
  EXPECT_EQ(SettingsValues(), settings);
  EXPECT_EQ(LinkTarget(StartupShortcut()), InstalledProgram());
}

// "exit" returns once the running copy's window is gone; its process may take longer to end, and
// its files are free only then. An installed program that cannot start at all (here no program)
// leaves the end to the setup's own message.
TEST_F(Setup, UpgradeGoesOnOnlyAfterTheRunningCopysProcessHasEnded) {
  for (bool startable : {true, false}) {
    SCOPED_TRACE(startable ? "the installed program starts" : "the installed program cannot start");
    InstallSilently();
    if (!startable) std::ofstream(InstalledProgram().c_str(), std::ios::binary | std::ios::trunc) << "no program";
    Started& slow = Start(L"\"" + JoinPath(harness::TestsFolder(), L"slow_exit.exe") + L"\"");
    ASSERT_NE(harness::WaitForTopWindow(slow.ProcessId(), L"Corvalent", nullptr, kWaitMs, slow.Process()), nullptr);

    ASSERT_EQ(RunToEnd(SetupCommand(L"/S")), 0u);
    EXPECT_EQ(WaitForSingleObject(slow.Process(), 0), WAIT_OBJECT_0) << "the setup went on while the copy still ran";
    // A copy ran, so the setup starts the new one; it ends before the next row installs again.
    ASSERT_NE(harness::WaitForTopWindow(0, L"Corvalent", nullptr), nullptr);
    EndRunningCopies();
  }
}

TEST_F(Setup, SilentUninstallWhileRunningRemovesEverything) {
  InstallSilently();
  Started* program = StartInstalled();
  MakeSettingsThroughOptions(program->ProcessId());

  UninstallQuietly();
  EXPECT_EQ(WaitForSingleObject(program->Process(), 0), WAIT_OBJECT_0) << "the copy still runs";
  ExpectNothingLeft();
}

TEST_F(Setup, UninstallAfterTheProgramFilesWereDeletedByHandRemovesEverythingElse) {
  InstallSilently();
  Started* program = StartInstalled();
  MakeSettingsThroughOptions(program->ProcessId());
  ASSERT_EQ(RunToEnd(L"\"" + InstalledProgram() + L"\" exit"), 0u);
  ASSERT_TRUE(program->WaitForExit(kWaitMs).has_value());
  ASSERT_TRUE(DeleteFileW(InstalledProgram().c_str()));
  ASSERT_TRUE(DeleteFileW(JoinPath(DefaultFolder(), L"CVConfig.dll").c_str()));

  UninstallQuietly();
  ExpectNothingLeft();
}

TEST_F(Setup, UninstallKeepsTheMakersKeyWhileAnotherProductUsesIt) {
  InstallSilently();
  ASSERT_TRUE(harness::WriteSettingsKey(0));
  std::wstring other = std::wstring(kMakerKey) + L"\\Other";
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, other.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);

  UninstallQuietly();
  EXPECT_FALSE(KeyExists(kSettingsKey));
  EXPECT_TRUE(KeyExists(other.c_str()));
  EXPECT_FALSE(KeyExists(kUninstallKey));
}

// Folders whose names are outside the ANSI code page, one of them where a user's profile of that kind
// puts the programs: the program installed there loads its library and makes its shortcut.
TEST_F(Setup, InstallIntoAFolderNamedOutsideTheCodePageRunsWithItsLibrary) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring profile = L"C:\\users\\\u0141ukasz \u65e5\u672c";
  const std::wstring folders[] = {JoinPath(temp, L"Corvalent \u0142\u65e5\u672c"),
                                  profile + L"\\AppData\\Local\\Programs\\Corvalent"};
  for (const std::wstring& folder : folders) {
    SCOPED_TRACE(folder);
    ASSERT_EQ(RunToEnd(SetupCommand(L"/S /D=" + folder)), 0u);
    std::wstring program = JoinPath(folder, L"Corvalent.exe");
    Started* running = StartInstalled(program);
    harness::BoxWatcher boxes(running->ProcessId());
    MakeSettingsThroughOptions(running->ProcessId(), program);
    EXPECT_EQ(boxes.Count(), 0u) << "a box such as the missing library's";
    UninstallQuietly();
    EXPECT_FALSE(FolderExists(folder));
  }
  for (std::wstring parent = folders[1]; parent.size() >= profile.size(); parent.resize(parent.rfind(L'\\')))
    RemoveDirectoryW(parent.c_str());
}

// Nothing may be half installed or registered after a refused install.
void ExpectNothingInstalledIn(const std::wstring& folder) {
  EXPECT_FALSE(FolderExists(folder)) << folder;
  EXPECT_FALSE(harness::FileExists(StartMenuShortcut()));
  EXPECT_FALSE(KeyExists(kUninstallKey));
}

// A drive letter that no drive uses.
std::wstring MissingDrive() {
  DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; letter++) {
    if (!(drives & (1u << (letter - L'A')))) return std::wstring(1, letter) + L":";
  }
  return L"";
}

TEST_F(Setup, FolderThatCannotBeWrittenIsRefusedWithNothingInstalled) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring blocker = JoinPath(temp, L"corvalent-not-a-folder");
  HANDLE file = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "could not make a file where the folder would go";
  CloseHandle(file);
  ASSERT_FALSE(MissingDrive().empty());
  for (const std::wstring& folder : {blocker, JoinPath(blocker, L"Corvalent"), MissingDrive() + L"\\Corvalent"}) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(RunToEnd(SetupCommand(L"/S /D=" + folder)), kBadFolder);
    ExpectNothingInstalledIn(folder);

    // With its pages, such a folder leaves "Install" disabled until the user picks another one.
    Started& setup = Start(SetupCommand(L"/D=" + folder));
    HWND window = WaitForSetupWindow(setup);
    ASSERT_NE(window, nullptr);
    HWND install = GetDlgItem(window, IDOK);
    EXPECT_TRUE(harness::WaitUntil([&] { return !IsWindowEnabled(install); })) << "Install is enabled";
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(setup.WaitForExit().has_value());
    ExpectNothingInstalledIn(folder);
  }
  DeleteFileW(blocker.c_str());
}

TEST_F(Setup, SecondSetupWhileOneRunsIsRefused) {
  Started& first = Start(SetupCommand(L""));
  HWND window = WaitForSetupWindow(first);
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(RunToEnd(SetupCommand(L"/S")), kSetupRunning);
  Started& second = Start(SetupCommand(L""));
  harness::BoxWatcher boxes(second.ProcessId());
  std::optional<harness::BoxRecord> box = boxes.WaitForBox(0);
  ASSERT_TRUE(box.has_value()) << "the second setup showed no message";
  EXPECT_EQ(box->text, L"Corvalent Setup is already running.");
  EXPECT_EQ(second.WaitForExit(), kSetupRunning);

  PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(first.WaitForExit().has_value());
  ExpectNothingInstalledIn(DefaultFolder());
}

// A running copy that stays after it was asked to end and waited for is not asked again: the setup
// gives up at once and says why in its exit code. One whose window goes but whose process stays is
// still running: the setup replaces no installed file and the uninstaller removes none.
TEST_F(Setup, RunningCopyThatDoesNotEndIsRefusedWithNothingChanged) {
  // slow_exit's word, the uninstaller instead of the setup, over an installed copy
  const struct { const wchar_t* how; bool uninstall, installed; } rows[] = {
      {L"stay", false, false}, {L"linger", false, true}, {L"linger", true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::wstring(row.how) + (row.uninstall ? L", uninstaller" : row.installed ? L", over a copy" : L""));
    std::wstring library = JoinPath(DefaultFolder(), L"CVConfig.dll");
    if (row.installed) InstallSilently();
    if (row.installed) std::ofstream(library.c_str(), std::ios::binary | std::ios::app) << "as it was";
    std::string before = FileBytes(library);
    Started& stays = Start(L"\"" + JoinPath(harness::TestsFolder(), L"slow_exit.exe") + L"\" " + row.how);
    ASSERT_NE(harness::WaitForTopWindow(stays.ProcessId(), L"Corvalent", nullptr, kWaitMs, stays.Process()), nullptr);

    ULONGLONG started = GetTickCount64();
    EXPECT_EQ(RunToEnd(row.uninstall ? L"\"" + JoinPath(DefaultFolder(), L"Uninstall.exe") + L"\" /S _?=" + DefaultFolder()
                                     : SetupCommand(L"/S")), kCopyRunning);
    EXPECT_LT(GetTickCount64() - started, 30000u) << "asked the same copy again";
    EXPECT_EQ(FileBytes(library), before) << "a file was replaced or removed while the copy ran";
    EXPECT_EQ(harness::FileExists(InstalledProgram()), row.installed);
    if (!row.installed) ExpectNothingInstalledIn(DefaultFolder());
    TerminateProcess(stays.Process(), 0);
    WaitForSingleObject(stays.Process(), kWaitMs);
  }
}

}  // namespace
