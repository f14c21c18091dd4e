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

// Wine takes the DPI of a starting process from this value of the current user.
static const wchar_t DESKTOP_KEY[] = L"Control Panel\\Desktop";

static std::optional<DWORD> ReadLogPixels() {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CURRENT_USER, DESKTOP_KEY, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &value, &size)) {
    return std::nullopt;
  }
  return value;
}

static bool WriteLogPixels(const std::optional<DWORD>& value) {
  if (!value) return RegDeleteKeyValueW(HKEY_CURRENT_USER, DESKTOP_KEY, L"LogPixels") == ERROR_SUCCESS;
  return RegSetKeyValueW(HKEY_CURRENT_USER, DESKTOP_KEY, L"LogPixels", REG_DWORD, &*value, sizeof(DWORD)) ==
         ERROR_SUCCESS;
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
  if (options.logPixels) {
    savedLogPixels_ = ReadLogPixels();
    if (!WriteLogPixels(options.logPixels) && error_.empty()) error_ = L"could not write LogPixels";
  }
}

Stage::~Stage() {
  if (options_.logPixels) WriteLogPixels(savedLogPixels_);
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
