// Tests of the "Start with Windows" shortcut that CVConfig.dll writes and deletes, loaded by path in
// this process: OK in the real Options dialog, uninstall, and StartUp folder values that are faulty.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "key_access.h"
#include "shell_link.h"
#include "../../config/cvconfig.h"
#include "../../resources/cvconfig_res.h"

using harness::kWaitMs;
using key_access::kDenyAll;
using key_access::SetKeyDacl;

namespace {

const wchar_t kSettingsKey[] = L"Software\\Bramlow Software\\Corvalent";
const wchar_t kMakerKey[] = L"Software\\Bramlow Software";
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders";
const wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kLinkName[] = L"Corvalent.lnk";
const wchar_t kRootLink[] = L"\\Corvalent.lnk";  // the root of the current drive

// Every value of one registry key, to put the key back as it was.
class KeyBackup {
 public:
  explicit KeyBackup(const wchar_t* key) : key_(key) {
    HKEY opened;
    existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened) == ERROR_SUCCESS;
    if (!existed_) return;
    for (DWORD index = 0;; index++) {
      wchar_t name[256];
      DWORD nameLength = 256;
      DWORD type = 0;
      DWORD size = 0;
      if (RegEnumValueW(opened, index, name, &nameLength, nullptr, &type, nullptr, &size)) break;
      Value value = {name, type, std::vector<BYTE>(size)};
      nameLength = 256;
      RegEnumValueW(opened, index, name, &nameLength, nullptr, &type, value.data.data(), &size);
      values_.push_back(value);
    }
    RegCloseKey(opened);
  }

  void Restore() const {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_);
    RegDeleteKeyW(HKEY_CURRENT_USER, key_);
    if (!existed_) return;
    HKEY created;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr)) return;
    for (const Value& value : values_) {
      RegSetValueExW(created, value.name.c_str(), 0, value.type, value.data.data(),
                     static_cast<DWORD>(value.data.size()));
    }
    RegCloseKey(created);
  }

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const wchar_t* key_;
  bool existed_ = false;
  std::vector<Value> values_;
};

void SetValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, size_t size) {
  RegSetKeyValueW(HKEY_CURRENT_USER, key, name, type, data, static_cast<DWORD>(size));
}

void SetStartupFolder(const std::wstring& folder) {
  SetValue(kShellFolders, L"Startup", REG_SZ, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t));
}

bool KeyExists(const wchar_t* key) {
  HKEY opened;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened)) return false;
  RegCloseKey(opened);
  return true;
}

// What a shell link holds, read back through the shell's own link object.
struct Link {
  std::wstring target;
  std::wstring arguments;
  std::wstring description;
  int showCommand = -1;
};

// The show command as the file holds it: the word at offset 60 of the shell link header.
int SavedShowCommand(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD header[16] = {};
  DWORD read = 0;
  ReadFile(file, header, sizeof header, &read, nullptr);
  CloseHandle(file);
  return read == sizeof header ? static_cast<int>(header[15]) : -1;
}

std::optional<Link> ReadLink(const std::wstring& path) {
  std::optional<Link> read;
  HRESULT initialised = CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t text[MAX_PATH] = L"";
        Link fields;
        // The item list, as the shell starts it: Wine keeps the path of the file's link info in the
        // ANSI code page only.
        LPITEMIDLIST items = nullptr;
        if (SUCCEEDED(link->GetIDList(&items)) && items && SHGetPathFromIDListW(items, text)) fields.target = text;
        CoTaskMemFree(items);
        link->GetArguments(text, MAX_PATH);
        fields.arguments = text;
        link->GetDescription(text, MAX_PATH);
        fields.description = text;
        read = fields;
      }
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(initialised)) CoUninitialize();
  if (read) read->showCommand = SavedShowCommand(path);
  return read;
}

std::wstring ThisProgram() {
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

void ExpectLinkTo(const std::wstring& path, const std::wstring& target) {
  std::optional<Link> link = ReadLink(path);
  ASSERT_TRUE(link) << "no readable shell link";
  EXPECT_EQ(lstrcmpiW(link->target.c_str(), target.c_str()), 0) << link->target << " vs " << target;
  EXPECT_EQ(link->arguments, L"startup");
  EXPECT_EQ(link->description, L"Corvalent Auto Start");
  EXPECT_EQ(link->showCommand, SW_SHOWMINNOACTIVE);
}

void ExpectLinkToThisProgram(const std::wstring& path) {
  ExpectLinkTo(path, ThisProgram());
}

bool WriteJunk(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, "not a link", 10, &written, nullptr);
  CloseHandle(file);
  return true;
}

class ShortcutTest : public ::testing::Test {
 protected:
  // The root of the current drive is then the prefix's own C:, never the machine's root that Z: is,
  // which another test run on the same machine may use at the same time.
  static void SetUpTestSuite() {
    wchar_t windows[MAX_PATH];
    ASSERT_TRUE(GetWindowsDirectoryW(windows, MAX_PATH));
    ASSERT_TRUE(SetCurrentDirectoryW(windows));
  }

  void SetUp() override {
    libraryPath_ = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
    ASSERT_TRUE(harness::FileExists(libraryPath_)) << "missing library";
    ASSERT_FALSE(harness::FileExists(kRootLink)) << "a shortcut is already at the root of the drive";
    // The shell's own StartUp folder, asked for before any value is spoilt.
    wchar_t shellFolder[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_STARTUP | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, shellFolder),
              S_OK);
    shellLink_ = harness::JoinPath(shellFolder, kLinkName);
    DeleteFileW(shellLink_.c_str());
    owner_ = CreateWindowExW(0, L"Static", L"Owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_TRUE(owner_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    static int serial = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // A name outside the ANSI code page (Western under Wine): Polish and Japanese letters.
    folder_ = harness::JoinPath(temp, L"cvshortcut-\u0142\u65e5\u672c-" + std::to_wstring(GetCurrentProcessId()) +
                                          L"-" + std::to_wstring(++serial));
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    link_ = harness::JoinPath(folder_, kLinkName);
    SetStartupFolder(folder_);
  }

  void TearDown() override {
    shellFolders_.Restore();
    userShellFolders_.Restore();
    DeleteFileW(shellLink_.c_str());
    for (const std::wstring& file : extraFiles_) DeleteFileW(file.c_str());
    for (auto folder = extraFolders_.rbegin(); folder != extraFolders_.rend(); ++folder)
      RemoveDirectoryW(folder->c_str());
    DeleteFileW(link_.c_str());
    RemoveDirectoryW(folder_.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
    if (owner_) DestroyWindow(owner_);
  }

  // One CVCInterface call with the library loaded for it, as the tray program makes it. For the
  // Options operation a second thread accepts the dialog (the command OK sends) once it appears.
  LONG Call(LONG operation, Settings* settings) {
    HMODULE library = LoadLibraryW(libraryPath_.c_str());
    if (!library) return -1;
    CVCInterfaceProc entry = reinterpret_cast<CVCInterfaceProc>(GetProcAddress(library, "CVCInterface"));
    HANDLE returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread driver([&] {
      if (operation != CFG_OPTIONS) return;
      HWND dialog =
          harness::WaitForShownDialog(GetCurrentProcessId(), L"Corvalent Options", kWaitMs, returned);
      if (!dialog) return;
      dialogSeen_ = dialog;
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPTIONS_OK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_OPTIONS_OK)));
      if (WaitForSingleObject(returned, kWaitMs) != WAIT_OBJECT_0) PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    LONG result = entry ? entry(owner_, operation, settings) : -1;
    SetEvent(returned);
    driver.join();
    CloseHandle(returned);
    FreeLibrary(library);
    return result;
  }

  // OK in the Options dialog with "Start with Windows" as given; the record as OK left it.
  Settings Accept(bool startWithWindows) {
    Settings settings = {startWithWindows ? DWORD(OPT_START_WITH_WINDOWS) : 0, 0, 0, 8};
    EXPECT_EQ(Call(CFG_OPTIONS, &settings), CONFIG_OK);
    return settings;
  }

  std::wstring libraryPath_;
  HWND owner_ = nullptr;
  HWND dialogSeen_ = nullptr;
  std::wstring folder_;      // this test's StartUp folder, named by the "Startup" value
  std::wstring link_;        // the shortcut in it
  std::wstring shellLink_;   // the shortcut in the shell's own StartUp folder
  std::vector<std::wstring> extraFiles_;
  std::vector<std::wstring> extraFolders_;
  KeyBackup shellFolders_{kShellFolders};
  KeyBackup userShellFolders_{kUserShellFolders};
};

TEST_F(ShortcutTest, OkWithStartWithWindowsWritesAShortcutThatStartsThisProgramMinimised) {
  harness::BoxWatcher watcher;
  Settings settings = Accept(true);
  EXPECT_EQ(settings.options, DWORD(OPT_START_WITH_WINDOWS));
  ExpectLinkToThisProgram(link_);
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(ShortcutTest, EveryOkWritesTheShortcutAgain) {
  harness::BoxWatcher watcher;
  ASSERT_TRUE(WriteJunk(link_));
  Accept(true);
  ExpectLinkToThisProgram(link_);
  ASSERT_TRUE(DeleteFileW(link_.c_str()));
  Accept(true);
  ExpectLinkToThisProgram(link_);
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(ShortcutTest, OkWithStartWithWindowsClearedDeletesTheShortcutSilently) {
  harness::BoxWatcher watcher;
  ASSERT_TRUE(WriteJunk(link_));
  Accept(false);
  EXPECT_FALSE(harness::FileExists(link_));
  Accept(false);
  EXPECT_FALSE(harness::FileExists(link_));
  EXPECT_EQ(watcher.Count(), 0u) << "a missing shortcut is no error";
}

TEST_F(ShortcutTest, UninstallDeletesTheShortcutAndTheKeyAndSaysNothingWhenBothAreGone) {
  harness::BoxWatcher watcher;
  ASSERT_TRUE(WriteJunk(link_));
  DWORD options = OPT_START_WITH_WINDOWS;
  SetValue(kSettingsKey, L"Options", REG_BINARY, &options, sizeof options);
  ASSERT_TRUE(KeyExists(kSettingsKey));
  EXPECT_EQ(Call(CFG_UNINSTALL, nullptr), CONFIG_OK);
  EXPECT_FALSE(harness::FileExists(link_));
  EXPECT_FALSE(KeyExists(kSettingsKey));
  EXPECT_TRUE(KeyExists(kMakerKey));
  EXPECT_EQ(Call(CFG_UNINSTALL, nullptr), CONFIG_OK);
  EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(ShortcutTest, LongestFolderPathThatFitsGetsTheShortcut) {
  // 245 characters of folder, a backslash and "Corvalent.lnk" fill 259 characters and the terminator.
  std::wstring folder = folder_ + L"\\";
  folder.append(245 - folder.size(), L'f');
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  std::wstring link = harness::JoinPath(folder, kLinkName);
  extraFolders_.push_back(folder);
  extraFiles_.push_back(link);
  SetStartupFolder(folder);
  harness::BoxWatcher watcher;
  Accept(true);
  ExpectLinkToThisProgram(link);
  EXPECT_FALSE(harness::FileExists(shellLink_));
  EXPECT_EQ(watcher.Count(), 0u);
}

// ---- Faulty "Startup" values: the shortcut goes to the shell's own StartUp folder.

enum class Fault {
  UnterminatedBinaryOfFullLength,
  ValueOfOneKibibyte,
  FolderTooLongForTheShortcut,
  ValueAbsent,
  ValueAbsentAndTheShellsFolderOutsideTheCodePage,
  KeyAbsent,
  KeyUnreadable
};

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::UnterminatedBinaryOfFullLength: return "UnterminatedBinaryOfFullLength";
    case Fault::ValueOfOneKibibyte: return "ValueOfOneKibibyte";
    case Fault::FolderTooLongForTheShortcut: return "FolderTooLongForTheShortcut";
    case Fault::ValueAbsent: return "ValueAbsent";
    case Fault::ValueAbsentAndTheShellsFolderOutsideTheCodePage: return "ValueAbsentAndTheShellsFolderOutsideTheCodePage";
    case Fault::KeyAbsent: return "KeyAbsent";
    case Fault::KeyUnreadable: return "KeyUnreadable";
  }
  return "?";
}

class FaultyStartupValueTest : public ShortcutTest, public ::testing::WithParamInterface<Fault> {
 protected:
  void Spoil() {
    switch (GetParam()) {
      case Fault::UnterminatedBinaryOfFullLength: {
        std::vector<wchar_t> bytes(MAX_PATH, L'C');
        bytes[1] = L':';
        bytes[2] = L'\\';
        SetValue(kShellFolders, L"Startup", REG_BINARY, bytes.data(), bytes.size() * sizeof(wchar_t));
        break;
      }
      case Fault::ValueOfOneKibibyte:
        SetStartupFolder(L"C:\\" + std::wstring(1021, L'k'));
        break;
      case Fault::FolderTooLongForTheShortcut: {
        // 246 characters: one more than the shortcut's path leaves room for. The folder exists.
        std::wstring folder = folder_ + L"\\";
        folder.append(246 - folder.size(), L'g');
        if (extraFolders_.empty() && CreateDirectoryW(folder.c_str(), nullptr)) {
          extraFolders_.push_back(folder);
          extraFiles_.push_back(harness::JoinPath(folder, kLinkName));
        }
        SetStartupFolder(folder);
        break;
      }
      case Fault::ValueAbsent:
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Startup");
        break;
      case Fault::ValueAbsentAndTheShellsFolderOutsideTheCodePage: {
        std::wstring shell = harness::JoinPath(folder_, L"shell");
        if (extraFolders_.empty() && CreateDirectoryW(shell.c_str(), nullptr)) extraFolders_.push_back(shell);
        SetValue(kUserShellFolders, L"Startup", REG_SZ, shell.c_str(), (shell.size() + 1) * sizeof(wchar_t));
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Startup");
        shellLink_ = harness::JoinPath(shell, kLinkName);
        break;
      }
      case Fault::KeyAbsent:
        RegDeleteTreeW(HKEY_CURRENT_USER, kShellFolders);
        RegDeleteKeyW(HKEY_CURRENT_USER, kShellFolders);
        break;
      case Fault::KeyUnreadable:
        ASSERT_TRUE(SetKeyDacl(kShellFolders, &kDenyAll)) << "could not lock the key";
        locked_ = true;
        break;
    }
  }

  void TearDown() override {
    if (locked_) EXPECT_TRUE(SetKeyDacl(kShellFolders, nullptr)) << "could not unlock the key";
    ShortcutTest::TearDown();
  }

  bool locked_ = false;
};

TEST_F(FaultyStartupValueTest, UnreadableKeyCannotBeOpenedForReading) {
  ASSERT_TRUE(SetKeyDacl(kShellFolders, &kDenyAll));
  locked_ = true;
  HKEY key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
}

TEST_P(FaultyStartupValueTest, ShortcutGoesToTheShellsStartUpFolderAndNeverToTheDriveRoot) {
  harness::BoxWatcher watcher;
  Spoil();
  Accept(true);
  ExpectLinkToThisProgram(shellLink_);
  EXPECT_FALSE(harness::FileExists(kRootLink));
  EXPECT_FALSE(harness::FileExists(link_));
  for (const std::wstring& file : extraFiles_) EXPECT_FALSE(harness::FileExists(file));
  Spoil();
  Accept(false);
  EXPECT_FALSE(harness::FileExists(shellLink_)) << "deletion must find the same shortcut";
  EXPECT_FALSE(harness::FileExists(kRootLink));
  EXPECT_EQ(watcher.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultyStartupValueTest,
                         ::testing::Values(Fault::UnterminatedBinaryOfFullLength, Fault::ValueOfOneKibibyte,
                                           Fault::FolderTooLongForTheShortcut, Fault::ValueAbsent,
                                           Fault::ValueAbsentAndTheShellsFolderOutsideTheCodePage, Fault::KeyAbsent,
                                           Fault::KeyUnreadable),
                         [](const ::testing::TestParamInfo<Fault>& info) { return FaultName(info.param); });

// ---- "Startup" values of every type and size, as uninstall reads them to delete the shortcut.

// Sizes in bytes from 0 to 1 KiB, odd ones among them: the small ones, both sides of the longest
// folder the shortcut's path leaves room for (245 characters) and of the 260-character buffer.
const size_t kSweepSizes[] = {0, 1, 2, 3, 4, 5, 8, 256, 489, 490, 491, 492, 493, 518, 519, 520, 521, 1024};

// What a value holds: only NULs; this test's folder, a NUL and filler; or the path of a folder
// that does not exist, with no NUL at all.
enum class Content { Zeros, FolderThenFiller, MissingFolderUnterminated };

TEST_F(ShortcutTest, StartupValueOfAnyTypeAndSizeIsReadWithinItsBufferAndNeverNamesTheDriveRoot) {
  ASSERT_TRUE(WriteJunk(kRootLink));
  extraFiles_.push_back(kRootLink);
  const std::wstring missing = L"C:\\corvalent-no-such-folder\\";
  int cases = 0;
  for (DWORD type : harness::kAnyValueTypes) {
    for (size_t size : kSweepSizes) {
      for (Content content : {Content::Zeros, Content::FolderThenFiller, Content::MissingFolderUnterminated}) {
        std::wstring text;
        if (content == Content::FolderThenFiller) text = folder_ + L'\0';
        if (content == Content::MissingFolderUnterminated) text = missing;
        if (size < text.size() * sizeof(wchar_t)) continue;
        std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(text.data()),
                                reinterpret_cast<const BYTE*>(text.data() + text.size()));
        bytes.resize(size, content == Content::Zeros ? 0 : 'k');
        SCOPED_TRACE("type " + std::to_string(type) + ", size " + std::to_string(size) + ", content " +
                     std::to_string(static_cast<int>(content)));
        std::optional<std::vector<BYTE>> seen =
            harness::WriteRawValue(kShellFolders, "Startup", type, bytes, true);
        ASSERT_TRUE(seen) << "the value could not be written and read back";
        // A value larger than the 260-character buffer is not read at all; from 246 characters on,
        // the shortcut's path would not fit; an empty folder is no folder; an odd last byte is no character.
        bool oursGoes = content == Content::FolderThenFiller && seen->size() <= MAX_PATH * sizeof(wchar_t);
        bool shellsGoes = content == Content::Zeros || (content == Content::FolderThenFiller && !oursGoes) ||
                          (content == Content::MissingFolderUnterminated && size / sizeof(wchar_t) > 245);
        ASSERT_TRUE(WriteJunk(link_));
        ASSERT_TRUE(WriteJunk(shellLink_));
        ASSERT_EQ(Call(CFG_UNINSTALL, nullptr), CONFIG_OK);
        EXPECT_EQ(harness::FileExists(link_), !oursGoes);
        EXPECT_EQ(harness::FileExists(shellLink_), !shellsGoes);
        ASSERT_TRUE(harness::FileExists(kRootLink)) << "uninstall deleted the file at the root of the drive";
        if (HasFailure()) return;
        cases++;
      }
    }
  }
  EXPECT_EQ(cases, static_cast<int>(harness::kAnyValueTypeCount * (18 + 2 * 11)));  // zeros at every size, the others from 256 bytes on
}

// ---- A shortcut that can't be written.

const wchar_t kFailureText[] = L"Corvalent couldn't create a shortcut to Corvalent\nin the StartUp folder.";
const wchar_t kFailureTitle[] = L"Start Corvalent with Windows";

TEST_F(ShortcutTest, FolderThatDoesNotExistShowsTheFailureBoxOwnedByTheDialog) {
  SetStartupFolder(harness::JoinPath(folder_, L"missing\\deeper"));
  harness::BoxWatcher watcher;
  Settings settings = Accept(true);
  EXPECT_EQ(settings.options, DWORD(OPT_START_WITH_WINDOWS)) << "the option stays set";
  std::optional<harness::BoxRecord> box = watcher.WaitForBox(0);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, kFailureText);
  EXPECT_EQ(box->title, kFailureTitle);
  EXPECT_EQ(box->icon, harness::BoxIcon::Warning);
  EXPECT_TRUE(box->OnlyOk());
  EXPECT_EQ(box->owner, dialogSeen_);
  EXPECT_EQ(watcher.Count(), 1u) << "a failed save shows only the one box";
}

TEST_F(ShortcutTest, FallbackThatFailsTooShowsTheFailureBoxAndWritesNothing) {
  // No "Startup" value, and the shell's own StartUp folder lies under a file.
  std::wstring blocker = harness::JoinPath(folder_, L"blocker");
  ASSERT_TRUE(WriteJunk(blocker));
  extraFiles_.push_back(blocker);
  std::wstring impossible = harness::JoinPath(blocker, L"StartUp");
  SetValue(kUserShellFolders, L"Startup", REG_SZ, impossible.c_str(), (impossible.size() + 1) * sizeof(wchar_t));
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Startup");
  harness::BoxWatcher watcher;
  Accept(true);
  std::optional<harness::BoxRecord> box = watcher.WaitForBox(0);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, kFailureText);
  EXPECT_EQ(box->title, kFailureTitle);
  EXPECT_EQ(box->icon, harness::BoxIcon::Warning);
  EXPECT_FALSE(harness::FileExists(kRootLink));
  EXPECT_FALSE(harness::FileExists(shellLink_));
}

// ---- A link object that fails one step: the step's box, and the shortcut saved all the same.

struct ExpectedBox {
  const wchar_t* title;
  const wchar_t* text;
  bool ownedByDialog;  // else by nobody
};

const ExpectedBox kFailureBox = {kFailureTitle, kFailureText, true};

struct LinkFault {
  const char* name;
  LinkStep step;
  HRESULT code;
  bool saved;
  std::vector<ExpectedBox> boxes;
};

void PrintTo(const LinkFault& fault, std::ostream* out) {
  *out << fault.name;
}

class LinkFaultTest : public ShortcutTest, public ::testing::WithParamInterface<LinkFault> {};

TEST_P(LinkFaultTest, ShowsTheStepsBoxesAndKeepsTheOption) {
  const LinkFault& fault = GetParam();
  harness::BoxWatcher watcher;
  {
    ShellLinkDouble links;
    ASSERT_TRUE(links.Ready()) << "the link object double could not be registered";
    links.Fail(fault.step, fault.code);
    Settings settings = Accept(true);
    EXPECT_EQ(settings.options, DWORD(OPT_START_WITH_WINDOWS)) << "the option stays set";
    EXPECT_EQ(links.Calls(fault.step), 1);
    bool reachesSave = fault.step != LinkStep::Create && fault.step != LinkStep::QueryPersistFile;
    EXPECT_EQ(links.Calls(LinkStep::Save), reachesSave ? 1 : 0);
    EXPECT_EQ(links.LiveObjects(), 0) << "a link object was not released";
  }
  std::vector<harness::BoxRecord> boxes = watcher.Boxes();
  ASSERT_EQ(boxes.size(), fault.boxes.size());
  for (size_t index = 0; index < boxes.size(); index++) {
    SCOPED_TRACE(index);
    EXPECT_EQ(boxes[index].title, fault.boxes[index].title);
    EXPECT_EQ(boxes[index].text, fault.boxes[index].text);
    EXPECT_EQ(boxes[index].icon, harness::BoxIcon::Warning);
    EXPECT_TRUE(boxes[index].OnlyOk());
    EXPECT_EQ(boxes[index].owner, fault.boxes[index].ownedByDialog ? dialogSeen_ : nullptr);
  }
  if (fault.saved) {
    ExpectLinkToThisProgram(link_);
  } else {
    EXPECT_FALSE(harness::FileExists(link_));
  }
}

const wchar_t kStepError[] = L"Shortcut Creation Error";

INSTANTIATE_TEST_SUITE_P(
    Steps, LinkFaultTest,
    ::testing::Values(
        LinkFault{"PathFails", LinkStep::SetPath, E_FAIL, true,
                  {{kStepError, L"Couldn't set link path.\nError: 80004005", false}}},
        LinkFault{"ArgumentsFail", LinkStep::SetArguments, E_OUTOFMEMORY, true,
                  {{kStepError, L"Couldn't set link arguments\nError: 8007000e", false}}},
        LinkFault{"DescriptionFails", LinkStep::SetDescription, E_UNEXPECTED, true,
                  {{kStepError, L"Couldn't set link description.\nError: 8000ffff", false}}},
        LinkFault{"ShowCommandSucceedsWithFalse", LinkStep::SetShowCmd, S_FALSE, true,
                  {{kStepError, L"Couldn't set link show command\nError: 00000001", false}}},
        LinkFault{"ObjectCannotBeCreated", LinkStep::Create, REGDB_E_CLASSNOTREG, false,
                  {{L"CreateLink", L"Couldn't create IShellLink instance", false}, kFailureBox}},
        LinkFault{"NoPersistFile", LinkStep::QueryPersistFile, E_NOINTERFACE, false,
                  {{L"CreateLink", L"Couldn't save the link", false}, kFailureBox}},
        LinkFault{"SaveFails", LinkStep::Save, STG_E_ACCESSDENIED, false, {kFailureBox}},
        LinkFault{"SaveSucceedsWithFalse", LinkStep::Save, S_FALSE, true, {}}),
    [](const ::testing::TestParamInfo<LinkFault>& info) { return std::string(info.param.name); });

// ---- The program itself started from one folder, then from another (as after a move) whose name is
// outside the ANSI code page; each time uninstall in the running copy removes the shortcut again.

TEST_F(ShortcutTest, OkInTheProgramStartedFromAnotherFolderPointsTheShortcutThere) {
  harness::StageOptions options;
  options.winInetDouble = false;
  options.dialUp = harness::DialUp::Wine;
  for (int start = 0; start < 2; start++) {
    SCOPED_TRACE(start == 0 ? "first folder" : "second folder");
    if (start == 1) options.nameSuffix = L"-\u0142\u65e5\u672c";
    ASSERT_TRUE(harness::WriteSettingsKey(OPT_START_WITH_WINDOWS));
    harness::Stage stage(options);
    ASSERT_TRUE(stage.Ready());
    harness::Program program(stage);
    ASSERT_TRUE(program.Start(L"options"));
    harness::BoxWatcher boxes(program.ProcessId());
    HWND dialog = harness::WaitForShownDialog(program.ProcessId(), L"Corvalent Options", kWaitMs,
                                            program.Process());
    ASSERT_TRUE(dialog) << "no Options dialog";
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPTIONS_OK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_OPTIONS_OK)));
    ASSERT_TRUE(harness::WaitUntil([&] { return !IsWindow(dialog); }, program.Process())) << "OK did not close it";
    ExpectLinkTo(link_, stage.ProgramPath());
    harness::Program uninstall(stage);
    ASSERT_TRUE(uninstall.Start(L"uninstall"));
    EXPECT_EQ(std::optional<DWORD>(0), uninstall.WaitForExit());
    EXPECT_TRUE(program.WaitForExit());
    EXPECT_FALSE(harness::FileExists(link_));
    EXPECT_EQ(boxes.Count(), 0u);
  }
}

}  // namespace
