// Draws the Options dialog, the About box and every icon of Corvalent.exe and CVConfig.dll into .bmp files.
// Run by scripts/screenshots.sh, which turns them into PNG files for review:  screenshots <folder>
#include <cstdio>
#include <string>
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
  const wchar_t* file;
};

static const DialogShot kDialogShots[] = {
    {CFG_OPTIONS, L"Corvalent Options", L"options.bmp"},
    {CFG_ABOUT, L"About Corvalent", L"about.bmp"},
};

struct IconModule {
  const wchar_t* file;  // in <build>\bin
  const wchar_t* stem;  // start of each picture's file name
};

static const IconModule kIconModules[] = {
    {L"Corvalent.exe", L"corvalent"},
    {L"CVConfig.dll", L"cvconfig"},
};

// Each icon picture: the 32x32 and the 16x16 image side by side on a light background.
static const int kIconMargin = 8;
static const int kIconPictureWidth = kIconMargin + 32 + kIconMargin + 16 + kIconMargin;
static const int kIconPictureHeight = kIconMargin + 32 + kIconMargin;
static const COLORREF kIconBackground = RGB(232, 236, 240);

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

static bool SavePicture(const Picture& picture, const std::wstring& path) {
  GdiFlush();
  BITMAPINFOHEADER header = HeaderOf(picture.width, picture.height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + header.biSizeImage;
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && WriteFile(out, &header, sizeof header, &written, nullptr) &&
            WriteFile(out, picture.bits, header.biSizeImage, &written, nullptr) && written == header.biSizeImage;
  CloseHandle(out);
  if (ok) std::printf("%ls\n", harness::FileNameOf(path).c_str());
  return ok;
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

// Shown, and every part of it painted on the dialog's own thread before this returns.
static bool WaitUntilPainted(HWND dialog, HANDLE thread) {
  ULONGLONG deadline = GetTickCount64() + harness::kWaitMs;
  while (!IsWindowVisible(dialog)) {
    if (GetTickCount64() >= deadline || WaitForSingleObject(thread, 20) == WAIT_OBJECT_0) return false;
  }
  return RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// The whole window, frame and caption included, as it stands on the screen.
static bool SaveWindow(HWND window, const std::wstring& path) {
  RECT rect;
  Picture picture;
  if (!GetWindowRect(window, &rect) || !NewPicture(&picture, rect.right - rect.left, rect.bottom - rect.top)) {
    FreePicture(&picture);
    return false;
  }
  HDC source = GetWindowDC(window);
  bool ok = source && BitBlt(picture.dc, 0, 0, picture.width, picture.height, source, 0, 0, SRCCOPY) &&
            SavePicture(picture, path);
  if (source) ReleaseDC(window, source);
  FreePicture(&picture);
  return ok;
}

static bool ShootDialog(CVCInterfaceProc entry, const DialogShot& shot, const std::wstring& folder) {
  DialogCall call = {entry, shot.operation, kShownSettings};
  HANDLE thread = CreateThread(nullptr, 0, RunDialog, &call, 0, nullptr);
  if (!thread) return false;
  HWND dialog = harness::WaitForTopWindow(GetCurrentProcessId(), L"#32770", shot.title, harness::kWaitMs, thread);
  bool ok = dialog && WaitUntilPainted(dialog, thread) && SaveWindow(dialog, harness::JoinPath(folder, shot.file));
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

static bool ShootDialogs(const std::wstring& folder) {
  std::wstring path = harness::JoinPath(harness::BinFolder(), L"CVConfig.dll");
  HMODULE library = LoadLibraryW(path.c_str());
  if (!library) {
    std::fprintf(stderr, "screenshots: cannot load %ls\n", path.c_str());
    return false;
  }
  CVCInterfaceProc entry = reinterpret_cast<CVCInterfaceProc>(reinterpret_cast<void (*)()>(GetProcAddress(library, "CVCInterface")));
  bool ok = entry != nullptr;
  for (const DialogShot& shot : kDialogShots) ok = entry && ShootDialog(entry, shot, folder) && ok;
  FreeLibrary(library);
  return ok;
}

// ---- The icons: every icon group of both modules, loaded as the tray program loads its icons.

static BOOL CALLBACK CollectIconId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<WORD>*>(found)->push_back(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
  return TRUE;
}

static bool DrawIconAt(HMODULE module, WORD id, HDC dc, int x, int y, int size) {
  HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  if (!icon) return false;
  bool ok = DrawIconEx(dc, x, y, icon, size, size, 0, nullptr, DI_NORMAL);
  DestroyIcon(icon);
  return ok;
}

static bool ShootIcon(HMODULE module, WORD id, const std::wstring& path) {
  Picture picture;
  bool ok = NewPicture(&picture, kIconPictureWidth, kIconPictureHeight);
  if (ok) {
    RECT all = {0, 0, picture.width, picture.height};
    HBRUSH background = CreateSolidBrush(kIconBackground);
    FillRect(picture.dc, &all, background);
    DeleteObject(background);
    ok = DrawIconAt(module, id, picture.dc, kIconMargin, kIconMargin, 32) &&
         DrawIconAt(module, id, picture.dc, kIconMargin + 32 + kIconMargin, kIconMargin + 8, 16) &&
         SavePicture(picture, path);
  }
  FreePicture(&picture);
  if (!ok) std::fprintf(stderr, "screenshots: no picture of icon %u\n", id);
  return ok;
}

static bool ShootIcons(const IconModule& source, const std::wstring& folder) {
  std::wstring path = harness::JoinPath(harness::BinFolder(), source.file);
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    std::fprintf(stderr, "screenshots: cannot load %ls\n", path.c_str());
    return false;
  }
  std::vector<WORD> ids;
  EnumResourceNamesW(module, RT_GROUP_ICON, CollectIconId, reinterpret_cast<LONG_PTR>(&ids));
  bool ok = !ids.empty();
  for (WORD id : ids) {
    std::wstring name = std::wstring(L"icon-") + source.stem + L"-" + std::to_wstring(id) + L".bmp";
    ok = ShootIcon(module, id, harness::JoinPath(folder, name)) && ok;
  }
  FreeLibrary(module);
  return ok;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: screenshots <folder>\n");
    return 2;
  }
  bool ok = ShootDialogs(argv[1]);
  for (const IconModule& source : kIconModules) ok = ShootIcons(source, argv[1]) && ok;
  std::fflush(stdout);
  return ok ? 0 : 1;
}
