// Watches one process for message boxes: records title, text, buttons and icon, then dismisses them.
// Used by every test in which the program may show a box, so that no test hangs on one.
#include "harness.h"

#include <algorithm>

#include "wait.h"

namespace harness {

static const DWORD SCAN_MS = 20;
// How long a box of another process may take to paint its icon before it counts as Unknown.
static const ULONGLONG PAINT_MS = 1500;
static const int MESSAGE_TEXT_ID = 0xFFFF;

namespace {

struct Candidate {
  BoxIcon kind;
  LPCWSTR id;
};

const Candidate CANDIDATES[] = {
    {BoxIcon::Warning, IDI_WARNING},
    {BoxIcon::Information, IDI_INFORMATION},
    {BoxIcon::Error, IDI_ERROR},
    {BoxIcon::Question, IDI_QUESTION},
};

struct Children {
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
  reinterpret_cast<Children*>(parameter)->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
  Children children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children.windows;
}

bool IsIconStatic(HWND child) {
  return lstrcmpiW(WindowClass(child).c_str(), L"Static") == 0 &&
         (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// A message box has a text static 0xFFFF, maybe an icon static, and only standard buttons.
bool IsMessageBox(HWND dialog) {
  bool hasText = false;
  for (HWND child : ChildrenOf(dialog)) {
    std::wstring kind = WindowClass(child);
    int id = GetDlgCtrlID(child);
    if (lstrcmpiW(kind.c_str(), L"Static") == 0) {
      if (id == MESSAGE_TEXT_ID) hasText = true;
    } else if (lstrcmpiW(kind.c_str(), L"Button") == 0) {
      if (id < IDOK || id > IDCONTINUE) return false;
    } else {
      return false;
    }
  }
  return hasText;
}

HICON ShownIcon(HWND iconStatic) {
  DWORD_PTR icon = 0;
  if (!SendMessageTimeoutW(iconStatic, STM_GETICON, 0, 0, SMTO_NORMAL, 1000, &icon)) return nullptr;
  return reinterpret_cast<HICON>(icon);
}

// The icon static when it shows an icon (Wine's box keeps a hidden, empty one otherwise).
HWND IconStaticOf(HWND box) {
  for (HWND child : ChildrenOf(box)) {
    if (IsIconStatic(child) && IsWindowVisible(child) && ShownIcon(child)) return child;
  }
  return nullptr;
}

BoxIcon IconByHandle(HWND iconStatic) {
  HICON shown = ShownIcon(iconStatic);
  for (const Candidate& candidate : CANDIDATES) {
    if (shown && shown == LoadIconW(nullptr, candidate.id)) return candidate.kind;
  }
  return BoxIcon::Unknown;
}

// 32-bit pixels of a width x height area, either copied from the screen or drawn by draw.
std::vector<DWORD> Pixels(int width, int height, const std::function<void(HDC)>& draw) {
  std::vector<DWORD> pixels;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (memory && bitmap && bits) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    draw(memory);
    GdiFlush();
    const DWORD* first = static_cast<const DWORD*>(bits);
    pixels.assign(first, first + static_cast<size_t>(width) * height);
    SelectObject(memory, previous);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

std::vector<DWORD> IconOn(HICON icon, int width, int height, int background) {
  return Pixels(width, height, [&](HDC dc) {
    RECT area = {0, 0, width, height};
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(background)));
    DrawIconEx(dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
  });
}

// Compares what the screen shows in the icon static with each standard icon, on the pixels that
// the icon covers fully (the same on black and on white).
BoxIcon IconByPixels(HWND iconStatic) {
  RECT area;
  if (!IsWindowVisible(iconStatic) || !GetWindowRect(iconStatic, &area)) return BoxIcon::Unknown;
  int width = area.right - area.left;
  int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return BoxIcon::Unknown;
  std::vector<DWORD> shown = Pixels(width, height, [&](HDC dc) {
    HDC screen = GetDC(nullptr);
    BitBlt(dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
  });
  for (const Candidate& candidate : CANDIDATES) {
    HICON icon = LoadIconW(nullptr, candidate.id);
    std::vector<DWORD> onBlack = IconOn(icon, width, height, BLACK_BRUSH);
    std::vector<DWORD> onWhite = IconOn(icon, width, height, WHITE_BRUSH);
    if (shown.size() != onBlack.size() || shown.size() != onWhite.size()) continue;
    size_t covered = 0;
    bool same = true;
    for (size_t index = 0; index < shown.size() && same; index++) {
      if (onBlack[index] != onWhite[index]) continue;
      covered++;
      same = (shown[index] & 0xFFFFFF) == (onBlack[index] & 0xFFFFFF);
    }
    if (same && covered > shown.size() / 4) return candidate.kind;
  }
  return BoxIcon::Unknown;
}

std::vector<BoxButton> ButtonsOf(HWND box) {
  std::vector<BoxButton> buttons;
  for (HWND child : ChildrenOf(box)) {
    if (lstrcmpiW(WindowClass(child).c_str(), L"Button") == 0) {
      buttons.push_back({GetDlgCtrlID(child), WindowText(child)});
    }
  }
  return buttons;
}

void Dismiss(HWND box, const std::vector<BoxButton>& buttons) {
  if (buttons.empty()) {
    PostMessageW(box, WM_CLOSE, 0, 0);
    return;
  }
  int id = buttons.front().id;
  for (const BoxButton& button : buttons) {
    if (button.id == IDCANCEL) id = IDCANCEL;
  }
  for (const BoxButton& button : buttons) {
    if (button.id == IDOK) id = IDOK;
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

}  // namespace

const char* BoxIconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None: return "none";
    case BoxIcon::Warning: return "warning";
    case BoxIcon::Information: return "information";
    case BoxIcon::Error: return "error";
    case BoxIcon::Question: return "question";
    case BoxIcon::Unknown: return "unknown";
  }
  return "?";
}

static void PrintText(const std::wstring& text, std::ostream* out) {
  *out << '"';
  for (wchar_t c : text) *out << (c == L'\n' ? '|' : c < 128 ? static_cast<char>(c) : '?');
  *out << '"';
}

void PrintTo(const BoxRecord& box, std::ostream* out) {
  *out << "{title ";
  PrintText(box.title, out);
  *out << ", text ";
  PrintText(box.text, out);
  *out << ", buttons";
  for (const BoxButton& button : box.buttons) {
    *out << " " << button.id << ":";
    PrintText(button.text, out);
  }
  *out << ", icon " << BoxIconName(box.icon) << ", owner " << box.owner << "}";
}

BoxWatcher::BoxWatcher(DWORD processId) : processId_(processId) {
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  changed_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stop_ && changed_) thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
}

BoxWatcher::~BoxWatcher() {
  if (thread_) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, kWaitMs);
    CloseHandle(thread_);
  }
  Release();
  if (stop_) CloseHandle(stop_);
  if (changed_) CloseHandle(changed_);
}

DWORD WINAPI BoxWatcher::Thread(void* parameter) {
  BoxWatcher* self = static_cast<BoxWatcher*>(parameter);
  do {
    self->Scan();
  } while (WaitForSingleObject(self->stop_, SCAN_MS) == WAIT_TIMEOUT);
  return 0;
}

void BoxWatcher::Scan() {
  seen_.erase(std::remove_if(seen_.begin(), seen_.end(), [](HWND window) { return !IsWindow(window); }),
              seen_.end());
  ULONGLONG now = GetTickCount64();
  for (HWND window : TopWindows(processId_, L"#32770")) {
    if (std::find(seen_.begin(), seen_.end(), window) != seen_.end()) continue;
    if (!IsWindowVisible(window)) continue;
    auto pending = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.window == window; });
    ULONGLONG since = pending == pending_.end() ? now : pending->since;
    if (pending != pending_.end()) pending_.erase(pending);
    if (Look(window, since)) {
      seen_.push_back(window);
    } else {
      pending_.push_back({window, since});
    }
  }
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [](const Pending& p) { return !IsWindow(p.window); }),
                 pending_.end());
}

// Records and dismisses (or holds) one dialog; false when its icon should be looked at again.
bool BoxWatcher::Look(HWND window, ULONGLONG since) {
  if (!IsMessageBox(window)) return true;
  BoxRecord box;
  box.window = window;
  box.owner = GetWindow(window, GW_OWNER);
  box.title = WindowText(window);
  box.text = WindowText(GetDlgItem(window, MESSAGE_TEXT_ID));
  box.buttons = ButtonsOf(window);
  HWND iconStatic = IconStaticOf(window);
  box.hasIcon = iconStatic != nullptr;
  if (iconStatic) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    box.icon = owner == GetCurrentProcessId() ? IconByHandle(iconStatic) : IconByPixels(iconStatic);
    if (box.icon == BoxIcon::Unknown && GetTickCount64() - since < PAINT_MS) return false;
  }
  AcquireSRWLockExclusive(&lock_);
  boxes_.push_back(box);
  bool hold = hold_ != 0;
  if (hold) held_.push_back(window);
  ReleaseSRWLockExclusive(&lock_);
  if (!hold) Dismiss(window, box.buttons);
  SetEvent(changed_);
  return true;
}

void BoxWatcher::Hold() {
  InterlockedExchange(&hold_, 1);
}

void BoxWatcher::Release() {
  AcquireSRWLockExclusive(&lock_);
  InterlockedExchange(&hold_, 0);
  std::vector<HWND> held;
  held.swap(held_);
  ReleaseSRWLockExclusive(&lock_);
  for (HWND window : held) {
    if (IsWindow(window)) Dismiss(window, ButtonsOf(window));
  }
}

size_t BoxWatcher::Count() const {
  AcquireSRWLockShared(&lock_);
  size_t count = boxes_.size();
  ReleaseSRWLockShared(&lock_);
  return count;
}

std::vector<BoxRecord> BoxWatcher::Boxes() const {
  AcquireSRWLockShared(&lock_);
  std::vector<BoxRecord> copy = boxes_;
  ReleaseSRWLockShared(&lock_);
  return copy;
}

bool BoxWatcher::WaitForCount(size_t count, DWORD timeoutMs) const {
  return WaitForChange(changed_, [&] { return Count() >= count; }, timeoutMs);
}

std::optional<BoxRecord> BoxWatcher::WaitForBox(size_t index, DWORD timeoutMs) const {
  if (!WaitForCount(index + 1, timeoutMs)) return std::nullopt;
  return Boxes()[index];
}

}  // namespace harness
