// Finds the build tree from the running test program: <build>\tests\<test>.exe.
// Used by Stage and the tests to reach <build>\bin, <build>\doubles and the helper program.
#include "harness.h"

namespace harness {

static std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

static std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return path;
  return full;
}

std::wstring TestsFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return FolderOf(path);
}

std::wstring BuildFolder() {
  return FullPath(JoinPath(TestsFolder(), L".."));
}

std::wstring BinFolder() {
  return JoinPath(BuildFolder(), L"bin");
}

std::wstring DoublesFolder() {
  return JoinPath(BuildFolder(), L"doubles");
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  wchar_t last = folder.back();
  if (last == L'\\' || last == L'/') return folder + name;
  return folder + L"\\" + name;
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace harness
