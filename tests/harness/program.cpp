// Starts the staged Corvalent.exe with command words and its DLL overrides, waits for it, talks to
// its window and makes sure no test leaves it running. Used by every end-to-end test.
#include "harness.h"

#include "wait.h"

namespace harness {

Message TrayCallback(UINT mouseMessage) {
  return {kTrayMessage, kTrayIconId, static_cast<LPARAM>(mouseMessage)};
}

Message Command(WORD id) {
  return {WM_COMMAND, MAKEWPARAM(id, 0), 0};
}

Message HotKey(int id, UINT modifiers, UINT virtualKey) {
  return {WM_HOTKEY, static_cast<WPARAM>(id), MAKELPARAM(modifiers, virtualKey)};
}

Message Timer(UINT_PTR id) {
  return {WM_TIMER, id, 0};
}

Message TaskbarCreated() {
  return {RegisterWindowMessageW(L"TaskbarCreated"), 0, 0};
}

// Wine hands a child the WINEDLLOVERRIDES of its parent's Unix environment, whatever the
// environment block says, and that variable beats the registry. So the overrides go into the
// prefix's registry, per program name: HKCU\Software\Wine\AppDefaults\<exe>\DllOverrides, with
// a value per library ("native", "builtin", "native,builtin" or "" for disabled). Every Start
// rewrites the key; it stays after the program ends (the next Start of a program of that name
// rewrites it again).
static std::wstring LoadOrder(const std::wstring& letters) {
  std::wstring order;
  for (wchar_t letter : letters) {
    if (letter == L'n') order += order.empty() ? L"native" : L",native";
    if (letter == L'b') order += order.empty() ? L"builtin" : L",builtin";
  }
  return order;
}

static std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// The values are replaced in place and only then are the ones this start does not want removed,
// so a program starting meanwhile (many copies at once) never finds the key empty.
static bool WriteDllOverrides(const std::wstring& exeName, const std::wstring& overrides) {
  std::wstring path = L"Software\\Wine\\AppDefaults\\" + exeName + L"\\DllOverrides";
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool written = true;
  std::vector<std::wstring> wanted;
  for (const std::wstring& entry : Split(overrides, L';')) {
    size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring order = LoadOrder(entry.substr(equals + 1));
    for (const std::wstring& name : Split(entry.substr(0, equals), L',')) {
      written = written && RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                                          static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
      wanted.push_back(name);
    }
  }
  for (DWORD index = 0;;) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    bool keep = false;
    for (const std::wstring& kept : wanted) keep = keep || lstrcmpiW(kept.c_str(), name) == 0;
    if (keep) {
      index++;
    } else {
      written = RegDeleteValueW(key, name) == ERROR_SUCCESS && written;
      if (!written) break;
    }
  }
  RegCloseKey(key);
  return written;
}

// This process's environment block with folder put in front of PATH; empty for no change.
static std::vector<wchar_t> EnvironmentWithPathFront(const std::wstring& folder) {
  std::vector<wchar_t> block;
  if (folder.empty()) return block;
  wchar_t* strings = GetEnvironmentStringsW();
  std::wstring path = L"PATH=" + folder;
  for (const wchar_t* entry = strings; *entry; entry += lstrlenW(entry) + 1) {
    if (_wcsnicmp(entry, L"PATH=", 5) == 0) {
      path += std::wstring(L";") + (entry + 5);
    } else {
      block.insert(block.end(), entry, entry + lstrlenW(entry) + 1);
    }
  }
  FreeEnvironmentStringsW(strings);
  block.insert(block.end(), path.begin(), path.end());
  block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// A job that ends the program when the test process ends, however it ends.
static HANDLE KillOnCloseJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  return job;
}

Program::Program(const Stage& stage)
    : path_(stage.ProgramPath()), folder_(stage.Folder()), overrides_(stage.DllOverrides()) {}

Program::~Program() {
  Kill();
  if (job_) CloseHandle(job_);
}

bool Program::Start(const std::wstring& words) {
  if (process_) {
    error_ = L"already started";
    return false;
  }
  wchar_t inherited[8];
  if (GetEnvironmentVariableW(L"WINEDLLOVERRIDES", inherited, 8)) {
    error_ = L"WINEDLLOVERRIDES is set for this test process (a DOUBLES test, or set by hand); Wine would "
             L"pass it on to the program and it beats the stage's DLL choice";
    return false;
  }
  if (!WriteDllOverrides(FileNameOf(path_), overrides_)) {
    error_ = L"could not write the DLL overrides of " + FileNameOf(path_) + L" to the registry";
    return false;
  }
  std::wstring commandLine = L"\"" + path_ + L"\"";
  if (!words.empty()) commandLine += L" " + words;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  std::vector<wchar_t> environment = EnvironmentWithPathFront(pathFront_);
  if (!CreateProcessW(path_.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
                      environment.empty() ? nullptr : environment.data(), folder_.c_str(), &startup, &started)) {
    error_ = L"CreateProcessW failed for " + commandLine + L" (error " + std::to_wstring(GetLastError()) + L")";
    return false;
  }
  if (!job_) job_ = KillOnCloseJob();
  if (job_) AssignProcessToJobObject(job_, started.hProcess);
  ResumeThread(started.hThread);
  CloseHandle(started.hThread);
  process_ = started.hProcess;
  processId_ = started.dwProcessId;
  return true;
}

bool Program::Running() const {
  return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Program::WaitForExit(DWORD timeoutMs) {
  if (!process_ || WaitPumpingSent(process_, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(process_, &code)) return std::nullopt;
  return code;
}

void Program::Kill() {
  if (!process_) return;
  if (Running()) {
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, kWaitMs);
  }
  CloseHandle(process_);
  process_ = nullptr;
  mainWindow_ = nullptr;
}

HWND Program::WaitForMainWindow(DWORD timeoutMs) {
  if (!process_) return nullptr;
  mainWindow_ = WaitForTopWindow(processId_, L"Corvalent", nullptr, timeoutMs, process_);
  return mainWindow_;
}

bool Program::Post(const Message& message) const {
  return mainWindow_ && PostMessageW(mainWindow_, message.message, message.wParam, message.lParam);
}

std::optional<LRESULT> Program::Send(const Message& message, DWORD timeoutMs) const {
  DWORD_PTR result = 0;
  if (!mainWindow_ || !SendMessageTimeoutW(mainWindow_, message.message, message.wParam, message.lParam,
                                           SMTO_NORMAL, timeoutMs, &result)) {
    return std::nullopt;
  }
  return static_cast<LRESULT>(result);
}

}  // namespace harness
