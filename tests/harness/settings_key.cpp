// The program's settings in the test prefix's registry, written as CVConfig stores them.
// Used by the end-to-end tests and the idle benchmark to prepare a run.
#include "harness.h"

namespace harness {

namespace {
const wchar_t kSettingsKey[] = L"Software\\Bramlow Software\\Corvalent";
}

bool WriteSettingsKey(DWORD options, DWORD startupMode, DWORD hotKey, DWORD delay) {
  const wchar_t* const names[] = {L"Options", L"Startup Mode", L"HotKey", L"Delay"};
  const DWORD words[] = {options, startupMode, hotKey, delay};
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  bool written = true;
  for (int index = 0; index < 4; index++) {
    written = RegSetValueExW(key, names[index], 0, REG_BINARY, reinterpret_cast<const BYTE*>(&words[index]),
                             sizeof(DWORD)) == ERROR_SUCCESS && written;
  }
  RegCloseKey(key);
  return written;
}

std::optional<DWORD> ReadSettingsWord(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_BINARY, nullptr, &value, &size) !=
          ERROR_SUCCESS ||
      size != sizeof(value)) {
    return std::nullopt;
  }
  return value;
}

void DeleteSettingsKey() {
  RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
}

}  // namespace harness
