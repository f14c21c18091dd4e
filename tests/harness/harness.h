// Test harness for Corvalent under Wine: build paths, the doubles' state block, a staging folder,
// the program under test, a recording notification area and a message box watcher. Used by every test.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "double_state.h"

namespace harness {

// Default timeout of every wait, in milliseconds.
constexpr DWORD kWaitMs = 5000;

// The program's own window messages and icon id that the tests send or expect.
constexpr UINT kTrayMessage = 1024;   // MSG_TRAY, the tray icon's call-back
constexpr UINT kTrayIconId = 102;     // uID of the program's tray icon

// ---- paths.cpp: the build tree, found from the running test program (<build>\tests\x.exe).
std::wstring TestsFolder();    // <build>\tests: the test programs, harness_helper.exe
std::wstring BuildFolder();    // <build>
std::wstring BinFolder();      // <build>\bin: Corvalent.exe, CVConfig.dll
std::wstring DoublesFolder();  // <build>\doubles: wininet.dll, rasapi32.dll, noentry\CVConfig.dll, marker\marker.dll
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
std::wstring FileNameOf(const std::wstring& path);
bool FileExists(const std::wstring& path);

// ---- wait.cpp: waits for a handle (WAIT_OBJECT_0) or the timeout (WAIT_TIMEOUT) while handling
// messages sent to this thread's windows; a null handle just lets the time pass. Use it instead of
// WaitForSingleObject in a test thread that owns windows (for example a message box's owner).
DWORD WaitPumpingSent(HANDLE handle, DWORD timeoutMs);
// A window of another process gives no event when it changes: looks every 20 ms until the
// condition holds or the timeout passes; once stopWhenSignalled (say, a process) is signalled,
// the condition is asked one last time.
bool WaitUntil(const std::function<bool()>& condition, HANDLE stopWhenSignalled = nullptr, DWORD timeoutMs = kWaitMs);

// ---- double_state.cpp: the state block of the wininet/rasapi32 doubles (tests/doubles/double_state.h).
// Create one per test (fixture member): it makes a block private to this test process, resets it
// and publishes its name in CORVALENT_DOUBLE_STATE, which started programs inherit.
class DoubleState {
 public:
  DoubleState();
  ~DoubleState();
  DoubleState(const DoubleState&) = delete;
  DoubleState& operator=(const DoubleState&) = delete;

  bool Ready() const { return block_ != nullptr; }
  // Online (INTERNET_STATE_CONNECTED), connected with INTERNET_CONNECTION_LAN, no dial-up
  // connection, no network list, nothing failing, all counters 0.
  void Reset();
  DoubleStateBlock* operator->() { return block_; }
  WinInetDoubleState& WinInet() { return block_->wininet; }
  DialUpDoubleState& DialUp() { return block_->dialUp; }
  NetworkListDoubleState& NetworkList() { return block_->networkList; }

  // Shorthands for the usual set-ups.
  void SetWorkingOffline(bool offline);        // the connected-state word: DISCONNECTED_BY_USER / CONNECTED
  bool WorkingOffline() const;                 // INTERNET_STATE_DISCONNECTED_BY_USER bit of the word
  void SetConnection(BOOL connected, DWORD flags);
  // A network list with these NLM_CONNECTIVITY bits; a cost of 0 answers no INetworkCostManager.
  void SetNetworkList(LONG connectivity, LONG cost = 0);
  void SetDialUpConnections(const std::vector<LONG>& rasconnstates);  // count and states, none failing

  // Waits until condition holds; woken by every call of a double (no polling). False on timeout.
  bool WaitFor(const std::function<bool(const DoubleStateBlock&)>& condition, DWORD timeoutMs = kWaitMs);

 private:
  std::wstring name_;
  HANDLE mapping_ = nullptr;
  HANDLE called_ = nullptr;
  DoubleStateBlock* block_ = nullptr;
};

// ---- stage.cpp: a fresh folder holding Corvalent.exe and the libraries a test chooses.
enum class Library { Real, WithoutEntry, Absent };   // bin\CVConfig.dll, doubles\noentry\CVConfig.dll, none
enum class DialUp { Double, Absent, Wine };          // the double, no RASAPI32 at all, Wine's own stubs

struct StageOptions {
  Library library = Library::Real;
  bool winInetDouble = true;          // false: Wine's own WinInet (always online)
  DialUp dialUp = DialUp::Double;
  std::wstring program;               // file staged as Corvalent.exe; empty: bin\Corvalent.exe
  std::wstring nameSuffix;            // appended to the folder's name (say, letters outside the code page)
  DWORD logPixels = 0;                // display scale in DPI (the prefix's LogPixels) for programs started
                                      // while the stage exists; 0: as it is
};

class Stage {
 public:
  explicit Stage(const StageOptions& options = StageOptions());
  ~Stage();  // removes the folder and everything in it (end the program first: Program before Stage)
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  bool Ready() const { return error_.empty(); }  // folder made and every chosen file copied
  const std::wstring& Error() const { return error_; }
  const std::wstring& Folder() const { return folder_; }
  std::wstring PathOf(const std::wstring& name) const;
  std::wstring ProgramPath() const { return PathOf(L"Corvalent.exe"); }
  bool Add(const std::wstring& source, const std::wstring& name = L"");  // one more file (name: its file name)
  bool Remove(const std::wstring& name);
  // WINEDLLOVERRIDES for a program started here: "wininet=n" / "rasapi32=n" / "rasapi32=" as staged.
  std::wstring DllOverrides() const;

 private:
  StageOptions options_;
  std::wstring folder_;
  std::wstring error_;
  std::optional<DWORD> savedLogPixels_;  // the prefix's value before the stage set its own
};

// ---- program.cpp: Corvalent.exe (or whatever was staged as it) running from a stage.
struct Message {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
Message TrayCallback(UINT mouseMessage);                    // kTrayMessage, wParam kTrayIconId
Message Command(WORD id);                                   // WM_COMMAND from a menu
Message HotKey(int id = 0, UINT modifiers = 0, UINT virtualKey = 0);  // WM_HOTKEY
Message Timer(UINT_PTR id);                                 // WM_TIMER without a timer procedure
Message TaskbarCreated();                                   // the registered "TaskbarCreated"

class Program {
 public:
  explicit Program(const Stage& stage);
  ~Program();  // kills the process if it still runs
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // WINEDLLOVERRIDES syntax ("wininet=n;rasapi32="); the stage's choice unless set before Start.
  void SetDllOverrides(const std::wstring& overrides) { overrides_ = overrides; }
  // Before Start: the current directory of the program (default: the stage folder), and a folder
  // put in front of the PATH that it inherits (default: none).
  void SetWorkingFolder(const std::wstring& folder) { folder_ = folder; }
  void SetPathFront(const std::wstring& folder) { pathFront_ = folder; }
  // Starts "<stage>\Corvalent.exe <words>" in its working folder, with the DLL overrides written to
  // the prefix's registry for that program name (Wine gives a child its parent's WINEDLLOVERRIDES
  // instead of the one in its environment block). False (see Error) on failure, also when this
  // test process itself runs with WINEDLLOVERRIDES set (a DOUBLES test), which would beat them.
  bool Start(const std::wstring& words = L"");
  bool Running() const;
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = kWaitMs);  // exit code; nothing on timeout
  void Kill();
  DWORD ProcessId() const { return processId_; }
  HANDLE Process() const { return process_; }
  const std::wstring& Error() const { return error_; }

  // The window of class "Corvalent" of this process; null on timeout or when the process ends.
  HWND WaitForMainWindow(DWORD timeoutMs = kWaitMs);
  HWND MainWindow() const { return mainWindow_; }
  bool Post(const Message& message) const;  // to the main window; returns at once
  // To the main window; returns its result once handled (nothing on timeout). Use Post for
  // anything that opens a menu or a modal dialog.
  std::optional<LRESULT> Send(const Message& message, DWORD timeoutMs = kWaitMs) const;

 private:
  std::wstring path_;
  std::wstring folder_;
  std::wstring overrides_;
  std::wstring pathFront_;
  std::wstring error_;
  HANDLE job_ = nullptr;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  HWND mainWindow_ = nullptr;
};

// ---- find_window.cpp: top-level (and message-only) windows by process, class and title.
// processId 0, a null className or a null title match any. Polls every 20 ms (WaitUntil); gives up
// at the timeout or as soon as stopWhenSignalled (for example a process handle) is signalled.
HWND FindTopWindow(DWORD processId, const wchar_t* className, const wchar_t* title);
HWND WaitForTopWindow(DWORD processId, const wchar_t* className, const wchar_t* title,
                      DWORD timeoutMs = kWaitMs, HANDLE stopWhenSignalled = nullptr);
// The dialog box ("#32770") with that title once it is shown. A dialog box exists, hidden, before
// its modal loop runs and shows it when its queue first runs empty; drive it only from then on,
// since what reaches it earlier can be handled before it has focus or be taken for a closed box.
HWND WaitForShownDialog(DWORD processId, const wchar_t* title, DWORD timeoutMs = kWaitMs,
                        HANDLE stopWhenSignalled = nullptr);
std::vector<HWND> TopWindows(DWORD processId, const wchar_t* className);
std::wstring WindowText(HWND window);
std::wstring WindowClass(HWND window);

// ---- icon_picture.cpp: an icon as pixels, in the form Wine's Shell_NotifyIcon hands to the tray.
struct IconPicture {
  UINT width = 0;
  UINT height = 0;
  UINT planes = 0;
  UINT bitsPerPixel = 0;
  std::vector<BYTE> colour;  // colour bitmap bits as GetBitmapBits gives them (rows top-down, WORD aligned)
  std::vector<BYTE> mask;    // AND mask bits in the same form, 1 bit per pixel
  bool Empty() const { return width == 0; }
  COLORREF PixelAt(UINT x, UINT y) const;  // colour of one pixel (32 bits per pixel only)
  bool Transparent(UINT x, UINT y) const;  // mask bit of one pixel
  bool operator==(const IconPicture& other) const;
  bool operator!=(const IconPicture& other) const { return !(*this == other); }
};
void PrintTo(const IconPicture& picture, std::ostream* out);  // short form for gtest messages
std::optional<IconPicture> PictureOfIcon(HICON icon);
// Icon resource id of the module file, loaded as the program loads its tray icons:
// LoadLibraryExW(LOAD_LIBRARY_AS_DATAFILE), LoadImageW(IMAGE_ICON, size x size, LR_DEFAULTCOLOR).
std::optional<IconPicture> PictureOfResource(const std::wstring& modulePath, WORD id, int size = 16);

// ---- tray_recorder.cpp: a notification area that records what programs tell it.
struct TrayRecord {
  DWORD message = 0;         // NIM_ADD, NIM_MODIFY or NIM_DELETE
  HWND window = nullptr;     // hWnd of the icon data
  UINT id = 0;               // uID
  UINT flags = 0;            // uFlags
  UINT callbackMessage = 0;  // uCallbackMessage
  std::wstring tip;          // szTip
  IconPicture icon;          // empty when the call carried no icon
};
void PrintTo(const TrayRecord& record, std::ostream* out);
bool IsModify(const TrayRecord& record);  // a NIM_MODIFY, the redraw of the icon
// One Shell_NotifyIcon call as Wine 8 or Wine 10 hands it to the tray; the message alone when the
// data has neither form.
TrayRecord DecodeTrayRecord(DWORD message, const BYTE* data, DWORD size);

// Owns a hidden top-level "Shell_TrayWnd" window, aware of this process's system DPI, on its own
// thread; Wine's Shell_NotifyIcon of every process then talks to it. Create it after the test's
// program could need it; destroy it (or SetAnswer(FALSE)) to make the notification area refuse or vanish.
class TrayRecorder {
 public:
  TrayRecorder();
  ~TrayRecorder();
  TrayRecorder(const TrayRecorder&) = delete;
  TrayRecorder& operator=(const TrayRecorder&) = delete;

  bool Ready() const;  // the window exists and is the "Shell_TrayWnd" that FindWindow finds
  HWND Window() const { return window_; }
  void SetAnswer(BOOL answer);  // what the shell call returns; TRUE at start
  void RefuseNext(LONG count);  // the next count calls return FALSE, whatever the answer
  size_t Count() const;
  std::vector<TrayRecord> Records() const;
  // The record at index (0 = the first one received), waiting for it to arrive.
  std::optional<TrayRecord> WaitForRecord(size_t index, DWORD timeoutMs = kWaitMs) const;
  bool WaitForCount(size_t count, DWORD timeoutMs = kWaitMs) const;
  // The first record at index from or later that matches, waiting for it to arrive.
  std::optional<TrayRecord> WaitForMatch(const std::function<bool(const TrayRecord&)>& match,
                                         size_t from = 0, DWORD timeoutMs = kWaitMs) const;

 private:
  static DWORD WINAPI Thread(void* self);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Receive(DWORD message, const BYTE* data, DWORD size);

  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HANDLE started_ = nullptr;
  HANDLE changed_ = nullptr;  // set after every new record
  HWND window_ = nullptr;
  volatile LONG answer_ = TRUE;
  volatile LONG refusals_ = 0;
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<TrayRecord> records_;
};

// ---- box_watcher.cpp: message boxes of a process, recorded and then dismissed.
enum class BoxIcon { None, Warning, Information, Error, Question, Unknown };
const char* BoxIconName(BoxIcon icon);

struct BoxButton {
  int id;
  std::wstring text;
};

struct BoxRecord {
  HWND window = nullptr;
  HWND owner = nullptr;            // GetWindow(GW_OWNER): the owner the program passed
  std::wstring title;
  std::wstring text;               // the message (static 0xFFFF of Wine's message box)
  std::vector<BoxButton> buttons;  // in child window order
  bool hasIcon = false;            // an icon static that shows an icon
  BoxIcon icon = BoxIcon::None;    // which standard icon: by handle in-process, by pixels otherwise
  bool OnlyOk() const { return buttons.size() == 1 && buttons[0].id == IDOK; }
};
void PrintTo(const BoxRecord& box, std::ostream* out);

// A thread that looks for visible message boxes ("#32770" dialogs with a 0xFFFF text static and
// only standard buttons) of one process every 20 ms, records each once, then presses its OK (or
// Cancel, or only) button, so no test hangs on a box. Other dialogs (Options, About) are left alone.
class BoxWatcher {
 public:
  explicit BoxWatcher(DWORD processId = GetCurrentProcessId());
  ~BoxWatcher();  // dismisses the boxes it holds
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  void Hold();     // from now on record new boxes but leave them open
  void Release();  // dismiss every held box and dismiss again from now on
  size_t Count() const;
  std::vector<BoxRecord> Boxes() const;
  std::optional<BoxRecord> WaitForBox(size_t index, DWORD timeoutMs = kWaitMs) const;  // 0 = first
  bool WaitForCount(size_t count, DWORD timeoutMs = kWaitMs) const;

 private:
  struct Pending {
    HWND window;
    ULONGLONG since;
  };
  static DWORD WINAPI Thread(void* self);
  void Scan();
  bool Look(HWND window, ULONGLONG since);

  DWORD processId_;
  HANDLE thread_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE changed_ = nullptr;  // set after every new box
  volatile LONG hold_ = 0;
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<BoxRecord> boxes_;
  std::vector<HWND> seen_;        // dialogs looked at and still open (watcher thread only)
  std::vector<Pending> pending_;  // boxes whose icon is not yet painted (watcher thread only)
  std::vector<HWND> held_;        // boxes left open by Hold
};

// ---- raw_value.cpp: registry values of any type and size.
constexpr size_t kAnyValueTypeCount = 10;
extern const DWORD kAnyValueTypes[kAnyValueTypeCount];  // every standard type and one made up
// Writes bytes as the value name of HKCU\keyPath (creating the key) with the type: string types
// through the ANSI call (wide: the wide one), so that a read in that form gets these very bytes
// back, the others as they are. Returns what that read gets (Wine's adds a NUL to a string without
// one); nothing when the write or the read fails or reads back anything else.
std::optional<std::vector<BYTE>> WriteRawValue(const wchar_t* keyPath, const char* name, DWORD type,
                                               const std::vector<BYTE>& bytes, bool wide = false);

// ---- settings_key.cpp: HKCU "Software\Bramlow Software\Corvalent" with its four REG_BINARY words.
bool WriteSettingsKey(DWORD options, DWORD startupMode = 0, DWORD hotKey = 0, DWORD delay = 8);
// One stored word (L"Options", L"Startup Mode", L"HotKey", L"Delay"): nothing when the value is
// missing, not REG_BINARY or not 4 bytes.
std::optional<DWORD> ReadSettingsWord(const wchar_t* name);
void DeleteSettingsKey();

}  // namespace harness
