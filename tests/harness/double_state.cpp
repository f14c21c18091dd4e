// Creates and resets the state block that drives the wininet.dll, rasapi32.dll and netlist.dll
// doubles, and registers netlist.dll. Used by tests that stage the doubles or load them in-process.
#include "harness.h"

#include <wininet.h>

#include "wait.h"

namespace harness {

// The network list double in place of the system's, for every process of the test's bitness: Wine's
// CoCreateInstance finds servers under HKLM\Software\Classes (a 32-bit process writes its own view).
static void RegisterNetworkListDouble() {
  const wchar_t* key = L"Software\\Classes\\CLSID\\{DCB00C01-570F-4A9B-8D69-199FDBA5723B}\\InprocServer32";
  std::wstring path = JoinPath(DoublesFolder(), L"netlist.dll");
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, nullptr, REG_SZ, path.c_str(),
                  static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"ThreadingModel", REG_SZ, L"Both", sizeof L"Both");
}

DoubleState::DoubleState() {
  RegisterNetworkListDouble();
  name_ = std::wstring(DOUBLE_STATE_NAME) + L"-" + std::to_wstring(GetCurrentProcessId());
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                sizeof(DoubleStateBlock), name_.c_str());
  if (!mapping_) return;
  called_ = CreateEventW(nullptr, TRUE, FALSE, (name_ + DOUBLE_STATE_EVENT_SUFFIX).c_str());
  void* view = MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DoubleStateBlock));
  if (!view || !called_) return;
  block_ = static_cast<DoubleStateBlock*>(view);
  Reset();
  SetEnvironmentVariableW(DOUBLE_STATE_NAME_VARIABLE, name_.c_str());
}

DoubleState::~DoubleState() {
  SetEnvironmentVariableW(DOUBLE_STATE_NAME_VARIABLE, nullptr);
  if (block_) UnmapViewOfFile(block_);
  if (called_) CloseHandle(called_);
  if (mapping_) CloseHandle(mapping_);
}

void DoubleState::Reset() {
  if (!block_) return;
  ZeroMemory(block_, sizeof(*block_));
  block_->size = sizeof(DoubleStateBlock);
  block_->version = DOUBLE_STATE_VERSION;
  block_->wininet.connectedState = INTERNET_STATE_CONNECTED;
  block_->wininet.connected = TRUE;
  block_->wininet.connectionFlags = INTERNET_CONNECTION_LAN;
  MemoryBarrier();
  block_->magic = DOUBLE_STATE_MAGIC;
}

void DoubleState::SetWorkingOffline(bool offline) {
  block_->wininet.connectedState = offline ? INTERNET_STATE_DISCONNECTED_BY_USER : INTERNET_STATE_CONNECTED;
}

bool DoubleState::WorkingOffline() const {
  return (block_->wininet.connectedState & INTERNET_STATE_DISCONNECTED_BY_USER) != 0;
}

void DoubleState::SetConnection(BOOL connected, DWORD flags) {
  block_->wininet.connectionFlags = static_cast<LONG>(flags);
  block_->wininet.connected = connected;
}

void DoubleState::SetNetworkList(LONG connectivity, LONG cost) {
  block_->networkList.connectivity = connectivity;
  block_->networkList.cost = cost;
  block_->networkList.costAnswered = cost != 0;
  block_->networkList.available = TRUE;
}

void DoubleState::SetDialUpConnections(const std::vector<LONG>& rasconnstates) {
  DialUpDoubleState& dialUp = block_->dialUp;
  for (size_t index = 0; index < DOUBLE_MAX_DIALUP; index++) {
    dialUp.connections[index].rasconnstate = index < rasconnstates.size() ? rasconnstates[index] : 0;
    dialUp.connections[index].statusFails = 0;
  }
  dialUp.connectionCount = static_cast<LONG>(rasconnstates.size());
}

bool DoubleState::WaitFor(const std::function<bool(const DoubleStateBlock&)>& condition, DWORD timeoutMs) {
  if (!block_) return false;
  return WaitForChange(called_, [&] { return condition(*block_); }, timeoutMs);
}

}  // namespace harness
