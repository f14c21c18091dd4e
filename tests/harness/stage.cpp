// A fresh temporary folder with Corvalent.exe and the libraries one test chooses; removed afterwards.
// Used by Program and by every end-to-end test.
#include "harness.h"

namespace harness {

static std::wstring NewFolder(const std::wstring& suffix) {
  static LONG counter = 0;
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring base = JoinPath(temp, L"corvalent-stage-" + std::to_wstring(GetCurrentProcessId()) + L"-");
  for (int attempt = 0; attempt < 100; attempt++) {
    std::wstring folder = base + std::to_wstring(InterlockedIncrement(&counter)) + suffix;
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
  }
  return std::wstring();
}

static void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(JoinPath(folder, L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = JoinPath(folder, name);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

static void AppendOverride(std::wstring* overrides, const wchar_t* entry) {
  if (!overrides->empty()) *overrides += L";";
  *overrides += entry;
}

Stage::Stage(const StageOptions& options) : options_(options) {
  folder_ = NewFolder(options.nameSuffix);
  if (folder_.empty()) {
    error_ = L"could not create a stage folder in the temporary folder";
    return;
  }
  std::wstring program = options.program.empty() ? JoinPath(BinFolder(), L"Corvalent.exe") : options.program;
  Add(program, L"Corvalent.exe");
  if (options.library == Library::Real) Add(JoinPath(BinFolder(), L"CVConfig.dll"));
  if (options.library == Library::WithoutEntry) Add(JoinPath(DoublesFolder(), L"noentry\\CVConfig.dll"));
  if (options.winInetDouble) Add(JoinPath(DoublesFolder(), L"wininet.dll"));
  if (options.dialUp == DialUp::Double) Add(JoinPath(DoublesFolder(), L"rasapi32.dll"));
}

Stage::~Stage() {
  if (!folder_.empty()) RemoveTree(folder_);
}

std::wstring Stage::PathOf(const std::wstring& name) const {
  return JoinPath(folder_, name);
}

bool Stage::Add(const std::wstring& source, const std::wstring& name) {
  if (folder_.empty()) return false;
  std::wstring target = PathOf(name.empty() ? FileNameOf(source) : name);
  if (CopyFileW(source.c_str(), target.c_str(), FALSE)) return true;
  if (error_.empty()) error_ = L"could not stage " + source + L" (error " + std::to_wstring(GetLastError()) + L")";
  return false;
}

bool Stage::Remove(const std::wstring& name) {
  return DeleteFileW(PathOf(name).c_str()) != 0;
}

std::wstring Stage::DllOverrides() const {
  std::wstring overrides;
  if (options_.winInetDouble) AppendOverride(&overrides, L"wininet=n");
  if (options_.dialUp == DialUp::Double) AppendOverride(&overrides, L"rasapi32=n");
  if (options_.dialUp == DialUp::Absent) AppendOverride(&overrides, L"rasapi32=");
  return overrides;
}

}  // namespace harness
