// Draws what a user sees of Corvalent at the display scale the prefix is set to: both dialogs, the
// menu open beside the icon in the taskbar, the six tray pictures enlarged on a light and a dark
// taskbar, and every icon of Corvalent.exe and CVConfig.dll, each into a .bmp file whose name ends in
// the given suffix. Run by scripts/screenshots.sh inside a Wine virtual desktop:
//   screenshots <folder> <suffix>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
#include <commctrl.h>

#include "harness.h"
#include "../../config/cvconfig.h"

// The picture behind each dialog: every kind of control shown, some checked, some not.
static const Settings kShownSettings = {
    OPT_START_WITH_WINDOWS | OPT_DELAYED_SETTING | OPT_AUTOSWITCH | OPT_AUTOSWITCH_TOOLTIPS | OPT_HOTKEY,
    STARTUP_AUTO, MAKEWORD('K', HOTKEYF_CONTROL | HOTKEYF_ALT), 8};

struct DialogShot {
  LONG operation;
  const wchar_t* title;
  const wchar_t* stem;
};

static const DialogShot kDialogShots[] = {
    {CFG_OPTIONS, L"Corvalent Options", L"options"},
    {CFG_ABOUT, L"About Corvalent", L"about"},
};

struct IconModule {
  const wchar_t* file;  // in <build>\bin
  const wchar_t* stem;  // start of its sheet's file name
};

static const IconModule kIconModules[] = {
    {L"Corvalent.exe", L"icons-corvalent"},
    {L"CVConfig.dll", L"icons-cvconfig"},
};

// The six tray pictures in reading order: online, offline; then with AutoSwitch, not connected
// and connected, each online and offline.
static const WORD kTrayStates[] = {101, 102, 105, 103, 104, 106};
static const int kTrayZoom = 4;

// Backgrounds: a light and a dark taskbar, and the light one behind the icon sheets.
static const COLORREF kLightTaskbar = RGB(243, 243, 243);
static const COLORREF kDarkTaskbar = RGB(32, 32, 32);
static const int kMargin = 8;  // at 100 %, grown with the scale

// Screen pictures count as drawn once this many looks in a row, 20 ms apart, saw the same pixels.
static const int kSteadyLooks = 5;

static std::wstring outputFolder;
static std::wstring nameSuffix;

// A 32-bit top-down DIB selected into a memory DC.
struct Picture {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  void* bits = nullptr;
  int width = 0;
  int height = 0;
};

static BITMAPINFOHEADER HeaderOf(int width, int height) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = -height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(width) * height * 4;
  return header;
}

static bool NewPicture(Picture* picture, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader = HeaderOf(width, height);
  picture->dc = CreateCompatibleDC(nullptr);
  picture->bitmap = CreateDIBSection(picture->dc, &info, DIB_RGB_COLORS, &picture->bits, nullptr, 0);
  if (!picture->dc || !picture->bitmap) return false;
  picture->previous = SelectObject(picture->dc, picture->bitmap);
  picture->width = width;
  picture->height = height;
  return true;
}

static void FreePicture(Picture* picture) {
  if (picture->previous) SelectObject(picture->dc, picture->previous);
  if (picture->bitmap) DeleteObject(picture->bitmap);
  if (picture->dc) DeleteDC(picture->dc);
  *picture = Picture();
}

static void Fill(const Picture& picture, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(picture.dc, &rect, brush);
  DeleteObject(brush);
}

static bool SavePicture(const Picture& picture, const wchar_t* stem) {
  GdiFlush();
  std::wstring name = std::wstring(stem) + L"-" + nameSuffix + L".bmp";
  BITMAPINFOHEADER header = HeaderOf(picture.width, picture.height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + header.biSizeImage;
  HANDLE out = CreateFileW(harness::JoinPath(outputFolder, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && WriteFile(out, &header, sizeof header, &written, nullptr) &&
            WriteFile(out, picture.bits, header.biSizeImage, &written, nullptr) && written == header.biSizeImage;
  CloseHandle(out);
  if (ok) std::printf("%ls\n", name.c_str());
  return ok;
}

static int Scaled(int pixels) {
  return MulDiv(pixels, GetSystemMetrics(SM_CXSMICON), 16);
}

// ---- Screen pictures: what the virtual desktop shows, windows of every process included.

// Copies the area of the screen once its pixels have stopped changing (other processes paint and
// hand their pictures to the display in their own time), then saves it.
static bool SaveScreenArea(RECT area, const wchar_t* stem) {
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&area, &area, &screen);
  int width = area.right - area.left, height = area.bottom - area.top;
  Picture last, next;
  HDC source = GetDC(nullptr);
  bool ok = source && width > 0 && height > 0 && NewPicture(&last, width, height) && NewPicture(&next, width, height);
  int steady = 0;
  ok = ok && harness::WaitUntil([&] {
         if (!BitBlt(next.dc, 0, 0, width, height, source, area.left, area.top, SRCCOPY)) return false;
         GdiFlush();
         steady = std::memcmp(last.bits, next.bits, static_cast<size_t>(width) * height * 4) == 0 ? steady + 1 : 0;
         std::swap(last, next);
         return steady >= kSteadyLooks;
       });
  ok = ok && SavePicture(last, stem);
  if (source) ReleaseDC(nullptr, source);
  FreePicture(&last);
  FreePicture(&next);
  if (!ok) std::fprintf(stderr, "screenshots: no picture of the screen for %ls\n", stem);
  return ok;
}

static RECT Inflated(RECT rect, int by) {
  InflateRect(&rect, by, by);
  return rect;
}

// ---- The dialogs: CVCInterface runs on a thread of its own, as in the tray program's window thread.

struct DialogCall {
  CVCInterfaceProc entry;
  LONG operation;
  Settings settings;
};

static DWORD WINAPI RunDialog(void* parameter) {
  DialogCall* call = static_cast<DialogCall*>(parameter);
  call->entry(nullptr, call->operation, &call->settings);
  return 0;
}

static bool ShootDialog(CVCInterfaceProc entry, const DialogShot& shot) {
  DialogCall call = {entry, shot.operation, kShownSettings};
  HANDLE thread = CreateThread(nullptr, 0, RunDialog, &call, 0, nullptr);
  if (!thread) return false;
  HWND dialog = harness::WaitForShownDialog(GetCurrentProcessId(), shot.title, harness::kWaitMs, thread);
  RECT rect;
  bool ok = dialog && GetWindowRect(dialog, &rect) && SaveScreenArea(rect, shot.stem);
  if (!ok) std::fprintf(stderr, "screenshots: no picture of \"%ls\"\n", shot.title);
  // Both dialogs close on WM_CLOSE as on Cancel, leaving the record as it was.
  if (dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(thread, harness::kWaitMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "screenshots: \"%ls\" did not close\n", shot.title);
    ok = false;
  }
  CloseHandle(thread);
  return ok;
}

static bool ShootDialogs() {
  std::wstring path = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
  HMODULE library = LoadLibraryW(path.c_str());
  if (!library) {
    std::fprintf(stderr, "screenshots: cannot load %ls\n", path.c_str());
    return false;
  }
  CVCInterfaceProc entry = reinterpret_cast<CVCInterfaceProc>(reinterpret_cast<void (*)()>(GetProcAddress(library, "CVCInterface")));
  bool ok = entry != nullptr;
  for (const DialogShot& shot : kDialogShots) ok = entry && ShootDialog(entry, shot) && ok;
  FreeLibrary(library);
  return ok;
}

// ---- The menu: Corvalent running in the virtual desktop's taskbar, right-clicked as a user would.

static void SendMouse(DWORD flags) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

static void SendKey(WORD key) {
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = inputs[1].ki.wVk = key;
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof inputs[0]);
}

static int ColoursIn(const Picture& picture) {
  const DWORD* pixels = static_cast<const DWORD*>(picture.bits);
  int count = picture.width * picture.height;
  for (int index = 1; index < count; index++) {
    if (pixels[index] != pixels[0]) return 2;
  }
  return 1;
}

// The newest icon stands at the right end of the taskbar, in a square as high as the bar.
static bool WaitForNewestTrayIcon(RECT* slot) {
  HWND taskbar = harness::WaitForTopWindow(0, L"Shell_TrayWnd", nullptr);
  RECT bar;
  if (!taskbar || !GetWindowRect(taskbar, &bar)) return false;
  *slot = {bar.right - (bar.bottom - bar.top), bar.top, bar.right, bar.bottom};
  int width = slot->right - slot->left, height = slot->bottom - slot->top;
  Picture look;
  HDC screen = GetDC(nullptr);
  bool ok = screen && NewPicture(&look, width, height) && harness::WaitUntil([&] {
              return BitBlt(look.dc, 0, 0, width, height, screen, slot->left, slot->top, SRCCOPY) && GdiFlush() &&
                     ColoursIn(look) > 1;
            });
  if (screen) ReleaseDC(nullptr, screen);
  FreePicture(&look);
  return ok;
}

static HWND ShownMenuOf(DWORD processId) {
  for (HWND window : harness::TopWindows(processId, L"#32768")) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

static bool ShootMenu() {
  // As at the first start: no settings yet (the Options dialog above has saved its own).
  harness::DeleteSettingsKey();
  harness::StageOptions options;
  options.winInetDouble = false;
  options.dialUp = harness::DialUp::Wine;
  harness::Stage stage(options);
  harness::Program tray(stage);
  RECT slot, menuRect;
  if (!stage.Ready() || !tray.Start() || !tray.WaitForMainWindow() || !WaitForNewestTrayIcon(&slot)) {
    std::fprintf(stderr, "screenshots: Corvalent's icon did not appear in the taskbar\n");
    return false;
  }
  // A right click at the icon's upper left corner opens the menu above and to the left of it.
  SetCursorPos(slot.left + 1, slot.top + 1);
  SendMouse(MOUSEEVENTF_RIGHTDOWN);
  SendMouse(MOUSEEVENTF_RIGHTUP);
  HWND menu = nullptr;
  harness::WaitUntil([&] { return (menu = ShownMenuOf(tray.ProcessId())) != nullptr; }, tray.Process());
  RECT area;
  bool ok = menu && GetWindowRect(menu, &menuRect) && UnionRect(&area, &menuRect, &slot) &&
            SaveScreenArea(Inflated(area, Scaled(kMargin)), L"menu");
  if (!ok) std::fprintf(stderr, "screenshots: no picture of the menu\n");
  SendKey(VK_ESCAPE);
  harness::WaitUntil([&] { return ShownMenuOf(tray.ProcessId()) == nullptr; }, tray.Process());
  harness::Program exitCopy(stage);
  return exitCopy.Start(L"exit") && tray.WaitForExit() && ok;
}

// ---- Pictures drawn from the resources: the tray pictures and every icon of both modules.

static bool DrawIconAt(HMODULE module, WORD id, HDC dc, int x, int y, int size) {
  HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  if (!icon) return false;
  bool ok = DrawIconEx(dc, x, y, icon, size, size, 0, nullptr, DI_NORMAL);
  DestroyIcon(icon);
  if (!ok) std::fprintf(stderr, "screenshots: icon %u not drawn at %d pixels\n", id, size);
  return ok;
}

static HMODULE LoadPictures(const wchar_t* file) {
  std::wstring path = harness::JoinPath(harness::BinFolder(), file);
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) std::fprintf(stderr, "screenshots: cannot load %ls\n", path.c_str());
  return module;
}

// One band of the six tray pictures at the notification area's size, each pixel enlarged.
static bool DrawTrayBand(HMODULE module, const Picture& target, int top, COLORREF background) {
  int size = GetSystemMetrics(SM_CXSMICON), cell = size * kTrayZoom, margin = kMargin * kTrayZoom / 2;
  RECT band = {0, top, target.width, top + cell + 2 * margin};
  Fill(target, band, background);
  Picture icon;
  bool ok = NewPicture(&icon, size, size);
  SetStretchBltMode(target.dc, COLORONCOLOR);
  for (size_t index = 0; ok && index < ARRAYSIZE(kTrayStates); index++) {
    RECT all = {0, 0, size, size};
    Fill(icon, all, background);
    ok = DrawIconAt(module, kTrayStates[index], icon.dc, 0, 0, size) &&
         StretchBlt(target.dc, margin + static_cast<int>(index) * (cell + margin), top + margin, cell, cell, icon.dc, 0, 0,
                    size, size, SRCCOPY);
  }
  FreePicture(&icon);
  return ok;
}

static bool ShootTrayStates() {
  HMODULE module = LoadPictures(L"Corvalent.exe");
  if (!module) return false;
  int cell = GetSystemMetrics(SM_CXSMICON) * kTrayZoom, margin = kMargin * kTrayZoom / 2;
  int count = ARRAYSIZE(kTrayStates), bandHeight = cell + 2 * margin;
  Picture picture;
  bool ok = NewPicture(&picture, margin + count * (cell + margin), 2 * bandHeight) &&
            DrawTrayBand(module, picture, 0, kLightTaskbar) && DrawTrayBand(module, picture, bandHeight, kDarkTaskbar) &&
            SavePicture(picture, L"tray-states");
  FreePicture(&picture);
  FreeLibrary(module);
  if (!ok) std::fprintf(stderr, "screenshots: no picture of the tray states\n");
  return ok;
}

static BOOL CALLBACK CollectIconId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<WORD>*>(found)->push_back(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
  return TRUE;
}

// Every icon of the module in a row, each at the large and the small size of this scale.
static bool ShootIconSheet(const IconModule& source) {
  HMODULE module = LoadPictures(source.file);
  if (!module) return false;
  std::vector<WORD> ids;
  EnumResourceNamesW(module, RT_GROUP_ICON, CollectIconId, reinterpret_cast<LONG_PTR>(&ids));
  int large = GetSystemMetrics(SM_CXICON), small = GetSystemMetrics(SM_CXSMICON), margin = Scaled(kMargin);
  int cell = large + margin + small + margin;
  Picture picture;
  bool ok = !ids.empty() && NewPicture(&picture, margin + static_cast<int>(ids.size()) * cell, large + 2 * margin);
  if (ok) Fill(picture, {0, 0, picture.width, picture.height}, kLightTaskbar);
  for (size_t index = 0; ok && index < ids.size(); index++) {
    int left = margin + static_cast<int>(index) * cell;
    ok = DrawIconAt(module, ids[index], picture.dc, left, margin, large) &&
         DrawIconAt(module, ids[index], picture.dc, left + large + margin, margin + (large - small) / 2, small);
  }
  ok = ok && SavePicture(picture, source.stem);
  FreePicture(&picture);
  FreeLibrary(module);
  if (!ok) std::fprintf(stderr, "screenshots: no icon sheet of %ls\n", source.file);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: screenshots <folder> <suffix>\n");
    return 2;
  }
  // As the tray program's manifest declares: the pictures are in the display's own pixels.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  outputFolder = argv[1];
  nameSuffix = argv[2];
  bool ok = ShootDialogs();
  ok = ShootMenu() && ok;
  ok = ShootTrayStates() && ok;
  for (const IconModule& source : kIconModules) ok = ShootIconSheet(source) && ok;
  std::fflush(stdout);
  return ok ? 0 : 1;
}
