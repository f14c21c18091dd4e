// Registry values of any type and size, as a spoilt or hostile registry may hold them.
// Used by the store and shortcut tests that feed the library every kind of value.
#include "harness.h"

namespace harness {

const DWORD kAnyValueTypes[kAnyValueTypeCount] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
                                                  REG_DWORD_BIG_ENDIAN, REG_LINK, REG_MULTI_SZ, REG_QWORD, 0x4C4C};

std::optional<std::vector<BYTE>> WriteRawValue(const wchar_t* keyPath, const char* name, DWORD type,
                                               const std::vector<BYTE>& bytes, bool wide) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring wideName(name, name + lstrlenA(name));
  DWORD size = static_cast<DWORD>(bytes.size());
  bool isString = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  LONG written = isString && !wide ? RegSetValueExA(key, name, 0, type, bytes.data(), size)
                          : RegSetValueExW(key, wideName.c_str(), 0, type, bytes.data(), size);
  std::vector<BYTE> seen(bytes.size() + 16);
  DWORD seenSize = static_cast<DWORD>(seen.size());
  LONG read = wide ? RegQueryValueExW(key, wideName.c_str(), nullptr, nullptr, seen.data(), &seenSize)
                   : RegQueryValueExA(key, name, nullptr, nullptr, seen.data(), &seenSize);
  RegCloseKey(key);
  if (written != ERROR_SUCCESS || read != ERROR_SUCCESS) return std::nullopt;
  seen.resize(seenSize);
  std::vector<BYTE> terminated = bytes;
  terminated.resize(bytes.size() + (wide ? sizeof(wchar_t) : 1), 0);
  if (seen != bytes && !(isString && seen == terminated)) return std::nullopt;
  return seen;
}

}  // namespace harness
