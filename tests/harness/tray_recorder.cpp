// A stand-in notification area: a "Shell_TrayWnd" window that records every Shell_NotifyIcon call.
// Used by the tests of the tray icon; decodes Wine 8's and Wine 10's icon records (checked by harness_test).
#include "harness.h"

#include <cstring>

#include "wait.h"

namespace harness {

// Wine's record of a Shell_NotifyIcon call (the WM_COPYDATA data), private to each Wine: hWnd,
// uID, uFlags and uCallbackMessage as 32-bit words, szTip as 128 UTF-16 characters, dwState,
// dwStateMask, szInfo[256], the timeout/version word, szInfoTitle[64], dwInfoFlags and guidItem,
// and the icon's width, height, planes and bits per pixel; its bits (the mask, then the colour, as
// GetBitmapBits gives them) end the record. Wine 8 puts the icon's four words after guidItem,
// Wine 10 puts them before szTip, and its bits start 16 bytes later. A record is read by the layout whose
// size it has; harness_test checks both forms and the recorder against the running Wine.
struct RecordLayout {
  size_t tip;
  size_t icon;
  size_t pixels;
};
static const RecordLayout LAYOUTS[] = {{16, 944, 960}, {32, 16, 976}};  // Wine 8, Wine 10
static const size_t WINDOW_OFFSET = 0;
static const size_t ID_OFFSET = 4;
static const size_t FLAGS_OFFSET = 8;
static const size_t CALLBACK_OFFSET = 12;
static const size_t TIP_CHARS = 128;

static UINT WordAt(const BYTE* data, DWORD size, size_t offset) {
  UINT word = 0;
  if (offset + sizeof(word) <= size) memcpy(&word, data + offset, sizeof(word));
  return word;
}

static std::wstring TipOf(const BYTE* data, size_t offset) {
  wchar_t tip[TIP_CHARS];
  memcpy(tip, data + offset, sizeof(tip));
  size_t length = 0;
  while (length < TIP_CHARS && tip[length]) length++;
  return std::wstring(tip, length);
}

static size_t RowBytes(UINT width, UINT bitsPerPixel) {
  return (static_cast<size_t>(width) * bitsPerPixel + 15) / 16 * 2;
}

// The icon of a record in that layout (empty for none); false when the record's size does not fit it.
static bool IconOf(const BYTE* data, DWORD size, const RecordLayout& layout, IconPicture* picture) {
  IconPicture icon;
  if (size < layout.pixels) return false;
  icon.width = WordAt(data, size, layout.icon);
  icon.height = WordAt(data, size, layout.icon + 4);
  icon.planes = WordAt(data, size, layout.icon + 8);
  icon.bitsPerPixel = WordAt(data, size, layout.icon + 12);
  if (icon.width > 256 || icon.height > 256 || icon.planes * icon.bitsPerPixel > 32) return false;
  size_t maskBytes = RowBytes(icon.width, 1) * icon.height;
  size_t colourBytes = RowBytes(icon.width, icon.planes * icon.bitsPerPixel) * icon.height;
  // Wine 8 counts the mask of a width that is no multiple of 16 as width x height / 8 bytes: the
  // padded rows, cut short by the padding's length.
  if (layout.pixels + maskBytes + colourBytes != size) maskBytes = icon.width * icon.height / 8;
  if (layout.pixels + maskBytes + colourBytes != size) return false;
  const BYTE* mask = data + layout.pixels;
  icon.mask.assign(mask, mask + maskBytes);
  icon.colour.assign(mask + maskBytes, mask + maskBytes + colourBytes);
  *picture = icon.width ? icon : IconPicture();
  return true;
}

TrayRecord DecodeTrayRecord(DWORD message, const BYTE* data, DWORD size) {
  TrayRecord record;
  record.message = message;
  for (const RecordLayout& layout : LAYOUTS) {
    if (!data || !IconOf(data, size, layout, &record.icon)) continue;
    record.window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(WordAt(data, size, WINDOW_OFFSET))));
    record.id = WordAt(data, size, ID_OFFSET);
    record.flags = WordAt(data, size, FLAGS_OFFSET);
    record.callbackMessage = WordAt(data, size, CALLBACK_OFFSET);
    record.tip = TipOf(data, layout.tip);
    break;
  }
  return record;
}

bool IsModify(const TrayRecord& record) {
  return record.message == NIM_MODIFY;
}

void PrintTo(const TrayRecord& record, std::ostream* out) {
  *out << "{NIM " << record.message << ", hWnd " << record.window << ", uID " << record.id << ", uFlags "
       << record.flags << ", uCallbackMessage " << record.callbackMessage << ", tip \"";
  for (wchar_t c : record.tip) *out << (c < 128 ? static_cast<char>(c) : '?');
  *out << "\", icon ";
  PrintTo(record.icon, out);
  *out << "}";
}

TrayRecorder::TrayRecorder() {
  // Wine's desktop (explorer) makes a "Shell_TrayWnd" of its own when it starts; ours must come
  // later so that it is the top one, the one Shell_NotifyIcon finds.
  GetDesktopWindow();
  started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  changed_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, Thread, this, 0, &threadId_);
  if (thread_) WaitForSingleObject(started_, kWaitMs);
  if (window_ && !Ready()) {
    SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

TrayRecorder::~TrayRecorder() {
  if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
  if (thread_) {
    if (WaitForSingleObject(thread_, kWaitMs) != WAIT_OBJECT_0) PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, kWaitMs);
    CloseHandle(thread_);
  }
  if (started_) CloseHandle(started_);
  if (changed_) CloseHandle(changed_);
}

DWORD WINAPI TrayRecorder::Thread(void* parameter) {
  TrayRecorder* self = static_cast<TrayRecorder*>(parameter);
  // DPI-aware, as the shell is, so that every process reads this process's system DPI as its DPI:
  // Wine 8 answers for another process's unaware or per-monitor-aware window at the asker's own scale.
  using SetThreadDpiAwarenessContextProc = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
  SetThreadDpiAwarenessContextProc setThreadDpiAwarenessContext = reinterpret_cast<SetThreadDpiAwarenessContextProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
  if (setThreadDpiAwarenessContext) setThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Shell_TrayWnd";
  RegisterClassW(&windowClass);  // fails harmlessly when an earlier recorder registered it
  self->window_ = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, self);
  SetEvent(self->started_);
  if (!self->window_) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

LRESULT CALLBACK TrayRecorder::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    CREATESTRUCTW* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  TrayRecorder* self = reinterpret_cast<TrayRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COPYDATA: {
      const COPYDATASTRUCT* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!self || !copy) return FALSE;
      self->Receive(static_cast<DWORD>(copy->dwData), static_cast<const BYTE*>(copy->lpData), copy->cbData);
      if (InterlockedDecrement(&self->refusals_) >= 0) return FALSE;
      InterlockedIncrement(&self->refusals_);
      return self->answer_;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void TrayRecorder::Receive(DWORD message, const BYTE* data, DWORD size) {
  TrayRecord record = DecodeTrayRecord(message, data, size);
  AcquireSRWLockExclusive(&lock_);
  records_.push_back(record);
  ReleaseSRWLockExclusive(&lock_);
  SetEvent(changed_);
}

bool TrayRecorder::Ready() const {
  return window_ && FindWindowW(L"Shell_TrayWnd", nullptr) == window_;
}

void TrayRecorder::SetAnswer(BOOL answer) {
  InterlockedExchange(&answer_, answer);
}

void TrayRecorder::RefuseNext(LONG count) {
  InterlockedExchange(&refusals_, count);
}

size_t TrayRecorder::Count() const {
  AcquireSRWLockShared(&lock_);
  size_t count = records_.size();
  ReleaseSRWLockShared(&lock_);
  return count;
}

std::vector<TrayRecord> TrayRecorder::Records() const {
  AcquireSRWLockShared(&lock_);
  std::vector<TrayRecord> copy = records_;
  ReleaseSRWLockShared(&lock_);
  return copy;
}

bool TrayRecorder::WaitForCount(size_t count, DWORD timeoutMs) const {
  return WaitForChange(changed_, [&] { return Count() >= count; }, timeoutMs);
}

std::optional<TrayRecord> TrayRecorder::WaitForRecord(size_t index, DWORD timeoutMs) const {
  if (!WaitForCount(index + 1, timeoutMs)) return std::nullopt;
  return Records()[index];
}

std::optional<TrayRecord> TrayRecorder::WaitForMatch(const std::function<bool(const TrayRecord&)>& match,
                                                     size_t from, DWORD timeoutMs) const {
  std::optional<TrayRecord> found;
  WaitForChange(changed_, [&] {
    std::vector<TrayRecord> records = Records();
    for (size_t index = from; index < records.size() && !found; index++) {
      if (match(records[index])) found = records[index];
    }
    return found.has_value();
  }, timeoutMs);
  return found;
}

}  // namespace harness
