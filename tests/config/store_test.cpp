// Tests of the settings store behind CVCInterface: the built CVConfig.dll loaded by path and run
// against the current user's registry of the test prefix. Part of the config_store test program.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "key_access.h"
#include "../../config/cvconfig.h"

using namespace harness;

namespace {

static_assert(offsetof(Settings, options) == 0 && offsetof(Settings, startupMode) == 4 &&
                  offsetof(Settings, hotKey) == 8 && offsetof(Settings, delay) == 12 && sizeof(Settings) == 16,
              "the record is four 32-bit words");

const wchar_t kKeyPath[] = L"Software\\Bramlow Software\\Corvalent";
const wchar_t kParentPath[] = L"Software\\Bramlow Software";
const wchar_t kShellFoldersPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell folders";
const wchar_t kStartupValue[] = L"Startup";

const wchar_t* const kValueNames[4] = {L"Options", L"Startup Mode", L"HotKey", L"Delay"};

// What a record holds before a call, so that every untouched byte can be recognised.
const Settings kPattern = {0xA1B2C3D4, 0x5A6B7C8D, 0x0F1E2D3C, 0x98877665};

DWORD Word(const Settings& record, int index) {
  const DWORD words[4] = {record.options, record.startupMode, record.hotKey, record.delay};
  return words[index];
}

void ExpectRecord(const Settings& record, const Settings& expected) {
  for (int index = 0; index < 4; index++) {
    EXPECT_EQ(Word(record, index), Word(expected, index)) << "word " << index << " (" << kValueNames[index] << ")";
  }
}

bool KeyExists(const wchar_t* path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void DeleteSettingsKey() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kKeyPath);
  RegDeleteKeyW(HKEY_CURRENT_USER, kKeyPath);
}

// Writes one value of the settings key (creating the key) with the given type and bytes.
void WriteValue(const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// A string value that the library's ANSI read sees as exactly size bytes.
void WriteAnsiString(const wchar_t* name, size_t size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::string text(size, 'x');
  if (size > 0) text[size - 1] = '\0';
  std::wstring wideName(name);
  std::string ansiName(wideName.begin(), wideName.end());
  EXPECT_EQ(RegSetValueExA(key, ansiName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                           static_cast<DWORD>(size)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::vector<BYTE> Bytes(DWORD word) {
  return {static_cast<BYTE>(word), static_cast<BYTE>(word >> 8), static_cast<BYTE>(word >> 16),
          static_cast<BYTE>(word >> 24)};
}

void WriteAllWords(const Settings& record) {
  for (int index = 0; index < 4; index++) WriteValue(kValueNames[index], REG_BINARY, Bytes(Word(record, index)));
}

struct StoredValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

StoredValue ReadValue(const wchar_t* name) {
  StoredValue value;
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    value.present = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    value.data.resize(size);
  }
  RegCloseKey(key);
  return value;
}

DWORD ValueCount() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(key);
  return count;
}

void ExpectBinaryWord(const wchar_t* name, DWORD word) {
  StoredValue value = ReadValue(name);
  ASSERT_TRUE(value.present) << "value " << std::string(name, name + lstrlenW(name));
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(value.data, Bytes(word));
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettingsKey();
    RedirectStartupFolder();
    library = LoadLibraryW(JoinPath(BinFolder(), L"CVConfig.dll").c_str());
    ASSERT_NE(library, nullptr) << "error " << GetLastError();
    EXPECT_EQ(GetModuleHandleW(L"comctl32.dll"), nullptr) << "the library brings the common controls in";
    entry = reinterpret_cast<CVCInterfaceProc>(reinterpret_cast<void (*)()>(GetProcAddress(library, "CVCInterface")));
    ASSERT_NE(entry, nullptr);
  }

  void TearDown() override {
    if (library) FreeLibrary(library);
    if (locked) EXPECT_TRUE(key_access::SetKeyDacl(kKeyPath, nullptr)) << "could not unlock the key";
    DeleteSettingsKey();
    RegDeleteKeyW(HKEY_CURRENT_USER, kParentPath);  // only when nothing else lives under it
    RestoreStartupFolder();
  }

  // Points the shell's StartUp folder at a folder of this test, so uninstall touches nothing real.
  void RedirectStartupFolder() {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kShellFoldersPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    DWORD size = 0;
    savedStartup.present = RegQueryValueExW(key, kStartupValue, nullptr, &savedStartup.type, nullptr, &size) ==
                           ERROR_SUCCESS;
    if (savedStartup.present) {
      savedStartup.data.resize(size);
      RegQueryValueExW(key, kStartupValue, nullptr, &savedStartup.type, savedStartup.data.data(), &size);
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    startupFolder = JoinPath(temp, L"corvalent-store-startup-" + std::to_wstring(GetCurrentProcessId()));
    CreateDirectoryW(startupFolder.c_str(), nullptr);
    std::string ansiFolder(startupFolder.begin(), startupFolder.end());
    EXPECT_EQ(RegSetValueExA(key, "Startup", 0, REG_SZ, reinterpret_cast<const BYTE*>(ansiFolder.c_str()),
                             static_cast<DWORD>(ansiFolder.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    redirected = true;
  }

  void RestoreStartupFolder() {
    if (!redirected) return;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFoldersPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      if (savedStartup.present) {
        RegSetValueExW(key, kStartupValue, 0, savedStartup.type, savedStartup.data.data(),
                       static_cast<DWORD>(savedStartup.data.size()));
      } else {
        RegDeleteValueW(key, kStartupValue);
      }
      RegCloseKey(key);
    }
    DeleteFileW(ShortcutPath().c_str());
    RemoveDirectoryW(startupFolder.c_str());
  }

  std::wstring ShortcutPath() const { return JoinPath(startupFolder, L"Corvalent.lnk"); }

  LONG Call(LONG operation, Settings* record) { return entry(nullptr, operation, record); }

  HMODULE library = nullptr;
  CVCInterfaceProc entry = nullptr;
  StoredValue savedStartup;
  std::wstring startupFolder;
  bool redirected = false;
  bool locked = false;  // the key has an access list that denies everybody
};

TEST_F(SettingsStoreTest, EntryPointIsExportedByNameAndAsOrdinalOne) {
  FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(1));
  ASSERT_NE(byOrdinal, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(byOrdinal), reinterpret_cast<void*>(entry));
}

TEST_F(SettingsStoreTest, LoadWithoutKeyChangesNothingAndCreatesNoKey) {
  Settings record = kPattern;
  EXPECT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
  ExpectRecord(record, kPattern);
  EXPECT_FALSE(KeyExists(kKeyPath));
}

TEST_F(SettingsStoreTest, SaveCreatesKeyWithFourLittleEndianBinaryWords) {
  Settings record = {0x04030201, 0x00000003, 0x00000654, 0x0000012C};
  EXPECT_EQ(Call(CFG_SAVE, &record), CONFIG_OK);
  ASSERT_TRUE(KeyExists(kKeyPath));
  EXPECT_EQ(ValueCount(), 4u);
  StoredValue options = ReadValue(L"Options");
  EXPECT_EQ(options.data, (std::vector<BYTE>{0x01, 0x02, 0x03, 0x04}));
  ExpectBinaryWord(L"Options", 0x04030201);
  ExpectBinaryWord(L"Startup Mode", 0x00000003);
  ExpectBinaryWord(L"HotKey", 0x00000654);
  ExpectBinaryWord(L"Delay", 0x0000012C);
  ExpectRecord(record, Settings{0x04030201, 0x00000003, 0x00000654, 0x0000012C});
}

TEST_F(SettingsStoreTest, SavedRecordLoadsBackWordForWord) {
  Settings saved = {0x00000049, 0x00000002, 0x00000174, 0x00000011};
  ASSERT_EQ(Call(CFG_SAVE, &saved), CONFIG_OK);
  Settings loaded = kPattern;
  EXPECT_EQ(Call(CFG_LOAD, &loaded), CONFIG_OK);
  ExpectRecord(loaded, saved);
}

TEST_F(SettingsStoreTest, SaveOverwritesEveryWordOfAnEarlierSave) {
  Settings first = kPattern;
  ASSERT_EQ(Call(CFG_SAVE, &first), CONFIG_OK);
  Settings second = {0, 1, 0, 8};
  ASSERT_EQ(Call(CFG_SAVE, &second), CONFIG_OK);
  EXPECT_EQ(ValueCount(), 4u);
  for (int index = 0; index < 4; index++) ExpectBinaryWord(kValueNames[index], Word(second, index));
}

TEST_F(SettingsStoreTest, NoDialUpBitIsSavedWithTheOptions) {
  Settings record = {OPT_NO_DIALUP | OPT_HOTKEY, 0, 0, 8};
  ASSERT_EQ(Call(CFG_SAVE, &record), CONFIG_OK);
  StoredValue options = ReadValue(L"Options");
  EXPECT_EQ(options.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(options.data, (std::vector<BYTE>{0x08, 0x00, 0x00, 0x80}));
}

TEST_F(SettingsStoreTest, DwordValueLoadsLikeBinaryAndIsSavedBackAsBinary) {
  WriteValue(L"Options", REG_DWORD, Bytes(0x0000001C));
  Settings record = kPattern;
  ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
  EXPECT_EQ(record.options, 0x0000001Cu);
  EXPECT_EQ(record.startupMode, kPattern.startupMode);
  EXPECT_EQ(record.hotKey, kPattern.hotKey);
  EXPECT_EQ(record.delay, kPattern.delay);
  ASSERT_EQ(Call(CFG_SAVE, &record), CONFIG_OK);
  ExpectBinaryWord(L"Options", 0x0000001C);
}

TEST_F(SettingsStoreTest, MissingValuesLeaveTheirWords) {
  WriteValue(L"HotKey", REG_BINARY, Bytes(0x00000654));
  Settings record = kPattern;
  ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
  ExpectRecord(record, Settings{kPattern.options, kPattern.startupMode, 0x00000654, kPattern.delay});
}

TEST_F(SettingsStoreTest, TwoByteDelayChangesOnlyTheLowSixteenBits) {
  WriteAllWords(Settings{1, 2, 3, 4});
  WriteValue(L"Delay", REG_BINARY, {0x2C, 0x01});
  Settings record = kPattern;
  ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
  ExpectRecord(record, Settings{1, 2, 3, (kPattern.delay & 0xFFFF0000) | 0x012C});
}

TEST_F(SettingsStoreTest, EmptyValueLeavesItsWord) {
  WriteAllWords(Settings{1, 2, 3, 4});
  WriteValue(L"HotKey", REG_BINARY, {});
  Settings record = kPattern;
  ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
  ExpectRecord(record, Settings{1, 2, kPattern.hotKey, 4});
}

TEST_F(SettingsStoreTest, BinaryValueLongerThanAWordLeavesItsWordAndTheOthersLoad) {
  for (size_t size : {5u, 6u, 8u, 64u, 1024u}) {
    SCOPED_TRACE("size " + std::to_string(size));
    DeleteSettingsKey();
    WriteAllWords(Settings{1, 2, 3, 4});
    WriteValue(L"Startup Mode", REG_BINARY, std::vector<BYTE>(size, 0xEE));
    Settings record = kPattern;
    ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
    ExpectRecord(record, Settings{1, kPattern.startupMode, 3, 4});
  }
}

TEST_F(SettingsStoreTest, StringValueLongerThanAWordOrEmptyLeavesItsWordAndTheOthersLoad) {
  for (size_t size : {0u, 5u, 6u, 64u, 1024u}) {
    SCOPED_TRACE("size " + std::to_string(size));
    DeleteSettingsKey();
    WriteAllWords(Settings{1, 2, 3, 4});
    WriteAnsiString(L"Startup Mode", size);
    Settings record = kPattern;
    ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
    ExpectRecord(record, Settings{1, kPattern.startupMode, 3, 4});
  }
}

// The type of a value is not looked at: a short string is read like a short binary value.
TEST_F(SettingsStoreTest, StringValueOfThreeBytesReplacesTheThreeLowBytes) {
  WriteAllWords(Settings{1, 2, 3, 4});
  WriteAnsiString(L"Startup Mode", 3);  // "xx\0"
  Settings record = kPattern;
  ASSERT_EQ(Call(CFG_LOAD, &record), CONFIG_OK);
  ExpectRecord(record, Settings{1, (kPattern.startupMode & 0xFF000000) | 0x00007878, 3, 4});
}

// ---- Values of every type and size from 0 to 1 KiB, in each of the four places.

// A record between two guard blocks, to see a write past either end.
struct GuardedRecord {
  BYTE before[32];
  Settings record;
  BYTE after[32];
};

// size bytes 0x11, 0x22, ... 0xFF, 0x11, ...
std::vector<BYTE> SweepBytes(size_t size) {
  std::vector<BYTE> bytes(size);
  for (size_t index = 0; index < size; index++) bytes[index] = static_cast<BYTE>(0x11 * (index % 15 + 1));
  return bytes;
}

TEST_F(SettingsStoreTest, ValueOfAnyTypeAndSizeChangesAtMostItsOwnWordAndNothingBesideTheRecord) {
  const size_t sizes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 255, 256, 257, 1023, 1024};
  int cases = 0;
  for (int place = 0; place < 4; place++) {
    for (DWORD type : kAnyValueTypes) {
      for (size_t size : sizes) {
        SCOPED_TRACE(std::string(kValueNames[place], kValueNames[place] + lstrlenW(kValueNames[place])) +
                     ", type " + std::to_string(type) + ", size " + std::to_string(size));
        DeleteSettingsKey();
        WriteAllWords(Settings{1, 2, 3, 4});
        std::wstring name = kValueNames[place];
        std::optional<std::vector<BYTE>> seen =
            WriteRawValue(kKeyPath, std::string(name.begin(), name.end()).c_str(), type, SweepBytes(size));
        ASSERT_TRUE(seen) << "the value could not be written and read back";
        GuardedRecord guarded;
        memset(&guarded, 0x5C, sizeof guarded);
        guarded.record = kPattern;
        ASSERT_EQ(Call(CFG_LOAD, &guarded.record), CONFIG_OK);

        // Up to four bytes replace the low bytes of the word; anything else leaves it.
        DWORD expectedWord = Word(kPattern, place);
        if (!seen->empty() && seen->size() <= 4) memcpy(&expectedWord, seen->data(), seen->size());
        DWORD expected[4] = {1, 2, 3, 4};
        expected[place] = expectedWord;
        ExpectRecord(guarded.record, Settings{expected[0], expected[1], expected[2], expected[3]});
        for (BYTE guard : guarded.before) ASSERT_EQ(guard, 0x5C) << "written before the record";
        for (BYTE guard : guarded.after) ASSERT_EQ(guard, 0x5C) << "written after the record";
        if (HasFailure()) return;
        cases++;
      }
    }
  }
  EXPECT_EQ(cases, static_cast<int>(4 * kAnyValueTypeCount * 16));
}

TEST_F(SettingsStoreTest, UnknownOperationReturnsTwoAndTouchesNothing) {
  for (LONG operation : {5L, -1L, 0x7FFFFFFFL}) {
    SCOPED_TRACE("operation " + std::to_string(operation));
    DeleteSettingsKey();
    Settings record = kPattern;
    EXPECT_EQ(Call(operation, &record), CONFIG_UNKNOWN_OPERATION);
    ExpectRecord(record, kPattern);
    EXPECT_FALSE(KeyExists(kKeyPath));

    WriteAllWords(Settings{1, 2, 3, 4});
    EXPECT_EQ(Call(operation, &record), CONFIG_UNKNOWN_OPERATION);
    ExpectRecord(record, kPattern);
    EXPECT_EQ(ValueCount(), 4u);
    for (int index = 0; index < 4; index++) ExpectBinaryWord(kValueNames[index], static_cast<DWORD>(index + 1));
  }
}

// The key exists with an access list that denies everybody, so it can't be opened for writing.
// (Wine lets a missing key be created under a parent that denies everybody, so that case is not tried.)
TEST_F(SettingsStoreTest, SaveWhenTheKeyCannotBeOpenedReturnsZeroAndChangesNothing) {
  WriteAllWords(Settings{1, 2, 3, 4});
  ASSERT_TRUE(key_access::SetKeyDacl(kKeyPath, &key_access::kDenyAll));
  locked = true;
  Settings record = kPattern;
  EXPECT_EQ(Call(CFG_SAVE, &record), CONFIG_OK);
  ASSERT_TRUE(key_access::SetKeyDacl(kKeyPath, nullptr));
  locked = false;
  ExpectRecord(record, kPattern);
  EXPECT_EQ(ValueCount(), 4u);
  for (int index = 0; index < 4; index++) ExpectBinaryWord(kValueNames[index], static_cast<DWORD>(index + 1));
}

TEST_F(SettingsStoreTest, UninstallDeletesTheKeyAndShortcutAndKeepsTheMakersKey) {
  WriteAllWords(Settings{OPT_START_WITH_WINDOWS, 1, 0x0654, 8});
  HANDLE shortcut = CreateFileW(ShortcutPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(shortcut, INVALID_HANDLE_VALUE);
  CloseHandle(shortcut);

  EXPECT_EQ(entry(nullptr, CFG_UNINSTALL, nullptr), CONFIG_OK);
  EXPECT_FALSE(KeyExists(kKeyPath));
  EXPECT_TRUE(KeyExists(kParentPath));
  EXPECT_FALSE(FileExists(ShortcutPath()));
}

TEST_F(SettingsStoreTest, UninstallWithoutKeyReturnsZero) {
  EXPECT_EQ(entry(nullptr, CFG_UNINSTALL, nullptr), CONFIG_OK);
  EXPECT_FALSE(KeyExists(kKeyPath));
}

TEST_F(SettingsStoreTest, NullRecordForLoadAndSaveReturnsZeroAndStoresNothing) {
  EXPECT_EQ(Call(CFG_SAVE, nullptr), CONFIG_OK);
  EXPECT_FALSE(KeyExists(kKeyPath));
  EXPECT_EQ(Call(CFG_LOAD, nullptr), CONFIG_OK);
  EXPECT_FALSE(KeyExists(kKeyPath));

  WriteAllWords(Settings{1, 2, 3, 4});
  EXPECT_EQ(Call(CFG_LOAD, nullptr), CONFIG_OK);
  EXPECT_EQ(Call(CFG_SAVE, nullptr), CONFIG_OK);
  EXPECT_EQ(ValueCount(), 4u);
  for (int index = 0; index < 4; index++) ExpectBinaryWord(kValueNames[index], static_cast<DWORD>(index + 1));
}

}  // namespace
