// Self-test of BoxWatcher: message boxes of this process and of a child are recorded with their
// texts, buttons and icon, and dismissed or held. Part of harness_test.
#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

namespace {

// A message box on its own thread, so the test thread stays free; done is set when it returns.
class BoxThread {
 public:
  BoxThread(const char* text, const char* title, UINT style, HWND owner = nullptr)
      : text_(text), title_(title), style_(style), owner_(owner) {
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~BoxThread() {
    WaitPumpingSent(thread_, kWaitMs);
    CloseHandle(thread_);
    CloseHandle(done_);
  }
  // Handles sent messages meanwhile: the box re-enables its owner, a window of the test thread.
  bool Done(DWORD timeoutMs = kWaitMs) const { return WaitPumpingSent(done_, timeoutMs) == WAIT_OBJECT_0; }
  int Result() const { return result_; }

 private:
  static DWORD WINAPI Run(void* parameter) {
    BoxThread* self = static_cast<BoxThread*>(parameter);
    self->result_ = MessageBoxA(self->owner_, self->text_, self->title_, self->style_);
    SetEvent(self->done_);
    return 0;
  }

  const char* text_;
  const char* title_;
  UINT style_;
  HWND owner_;
  int result_ = 0;
  HANDLE done_ = nullptr;
  HANDLE thread_ = nullptr;
};

TEST(BoxWatcher, RecordsAWarningBoxAndPressesOk) {
  BoxWatcher boxes;
  BoxThread box("Couldn't load tray icons.", "Corvalent", MB_ICONWARNING);
  std::optional<BoxRecord> seen = boxes.WaitForBox(0);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->title, L"Corvalent");
  EXPECT_EQ(seen->text, L"Couldn't load tray icons.");
  EXPECT_TRUE(seen->OnlyOk());
  EXPECT_TRUE(seen->hasIcon);
  EXPECT_EQ(seen->icon, BoxIcon::Warning) << BoxIconName(seen->icon);
  EXPECT_EQ(seen->owner, nullptr);
  ASSERT_TRUE(box.Done());
  EXPECT_EQ(box.Result(), IDOK);
}

TEST(BoxWatcher, TellsTheInformationIconAndTheOwner) {
  HWND owner = CreateWindowExW(0, L"Static", L"owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  BoxWatcher boxes;
  BoxThread box("Help text", "Corvalent Help", MB_ICONINFORMATION, owner);
  std::optional<BoxRecord> seen = boxes.WaitForBox(0);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->icon, BoxIcon::Information) << BoxIconName(seen->icon);
  EXPECT_EQ(seen->owner, owner);
  EXPECT_TRUE(box.Done());
  DestroyWindow(owner);
}

TEST(BoxWatcher, BoxWithoutIconHasNone) {
  BoxWatcher boxes;
  BoxThread box("Plain", "Corvalent", MB_OK);
  std::optional<BoxRecord> seen = boxes.WaitForBox(0);
  ASSERT_TRUE(seen);
  EXPECT_FALSE(seen->hasIcon);
  EXPECT_EQ(seen->icon, BoxIcon::None);
  EXPECT_TRUE(box.Done());
}

TEST(BoxWatcher, RecordsAllButtonsAndPressesCancelWhenThereIsNoOk) {
  BoxWatcher boxes;
  BoxThread box("Retry?", "Corvalent", MB_RETRYCANCEL | MB_ICONWARNING);
  std::optional<BoxRecord> seen = boxes.WaitForBox(0);
  ASSERT_TRUE(seen);
  ASSERT_EQ(seen->buttons.size(), 2u);
  EXPECT_FALSE(seen->OnlyOk());
  ASSERT_TRUE(box.Done());
  EXPECT_EQ(box.Result(), IDCANCEL);
}

TEST(BoxWatcher, HeldBoxStaysOpenUntilReleased) {
  BoxWatcher boxes;
  boxes.Hold();
  BoxThread box("Held", "Corvalent", MB_ICONWARNING);
  std::optional<BoxRecord> seen = boxes.WaitForBox(0);
  ASSERT_TRUE(seen);
  EXPECT_FALSE(box.Done(300));
  EXPECT_TRUE(IsWindow(seen->window));
  boxes.Release();
  EXPECT_TRUE(box.Done());
  EXPECT_EQ(boxes.Count(), 1u);
}

TEST(BoxWatcher, CountsSeveralBoxesInOrder) {
  BoxWatcher boxes;
  {
    BoxThread first("First", "Corvalent", MB_ICONWARNING);
    ASSERT_TRUE(first.Done());
  }
  BoxThread second("Second", "Corvalent", MB_ICONWARNING);
  ASSERT_TRUE(boxes.WaitForCount(2));
  EXPECT_EQ(boxes.Boxes()[0].text, L"First");
  EXPECT_EQ(boxes.Boxes()[1].text, L"Second");
  EXPECT_FALSE(boxes.WaitForBox(2, 100));
}

// A dialog that is not a message box: an edit control and a 0xFFFF label, like the Options dialog.
HWND CreatePlainDialog() {
  HWND dialog = CreateWindowExW(0, L"#32770", L"Corvalent Options", WS_POPUP | WS_CAPTION, 0, 0, 200, 100, nullptr,
                                nullptr, nullptr, nullptr);
  if (!dialog) return nullptr;
  CreateWindowExW(0, L"Static", L"Delay", WS_CHILD | WS_VISIBLE, 5, 5, 50, 20, dialog,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(0xFFFF)), nullptr, nullptr);
  CreateWindowExW(0, L"Edit", L"8", WS_CHILD | WS_VISIBLE, 60, 5, 50, 20, dialog,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(1001)), nullptr, nullptr);
  CreateWindowExW(0, L"Button", L"OK", WS_CHILD | WS_VISIBLE, 5, 40, 50, 20, dialog,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), nullptr, nullptr);
  ShowWindow(dialog, SW_SHOWNOACTIVATE);
  return dialog;
}

TEST(BoxWatcher, LeavesOtherDialogsAlone) {
  BoxWatcher boxes;
  HWND dialog = CreatePlainDialog();
  ASSERT_TRUE(dialog);
  BoxThread box("After the dialog", "Corvalent", MB_ICONWARNING);
  std::optional<BoxRecord> seen = boxes.WaitForBox(0);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->text, L"After the dialog");
  EXPECT_EQ(boxes.Count(), 1u);
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_EQ(WaitForTopWindow(GetCurrentProcessId(), L"#32770", L"Corvalent Options"), dialog);
  DestroyWindow(dialog);
  EXPECT_TRUE(box.Done());
}

StageOptions HelperStage() {
  StageOptions options;
  options.program = JoinPath(TestsFolder(), L"harness_helper.exe");
  options.library = Library::Absent;
  return options;
}

TEST(BoxWatcher, RecordsABoxOfAChildProcessWithItsIcon) {
  Stage stage(HelperStage());
  ASSERT_TRUE(stage.Ready()) << stage.Error();
  struct Case {
    const wchar_t* word;
    BoxIcon icon;
  };
  const Case cases[] = {{L"warning", BoxIcon::Warning}, {L"information", BoxIcon::Information}, {L"none", BoxIcon::None}};
  for (const Case& c : cases) {
    Program program(stage);
    ASSERT_TRUE(program.Start(std::wstring(L"box ") + c.word + L" \"Visit Bramlow\" \"Couldn't visit \\\"x\\\"\""))
        << program.Error();
    BoxWatcher mine;
    BoxWatcher boxes(program.ProcessId());
    std::optional<BoxRecord> seen = boxes.WaitForBox(0);
    ASSERT_TRUE(seen) << c.word;
    EXPECT_EQ(seen->title, L"Visit Bramlow");
    EXPECT_EQ(seen->text, L"Couldn't visit \"x\"");
    EXPECT_TRUE(seen->OnlyOk());
    EXPECT_EQ(seen->icon, c.icon) << c.word << ": " << BoxIconName(seen->icon);
    EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(IDOK));
    EXPECT_EQ(mine.Count(), 0u);
  }
}

}  // namespace
