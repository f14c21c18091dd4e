// End-to-end tests of where the program looks for its libraries: a CVConfig.dll or RASAPI32.DLL planted
// in its current directory or on its PATH, or a CVConfig.dll in the system folder, is never loaded.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "../../config/cvconfig.h"
#include "../../resources/corvalent_res.h"

using namespace harness;

namespace {

const DWORD CTRL_ALT_T = (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'T';

// Where the marker libraries are planted for the started program: its current directory or a
// folder on its PATH (both libraries), or the system folder, which may hold RASAPI32.DLL but
// never the configuration library.
enum class Plant { WorkingFolder, PathFolder, SystemFolder };

void PrintTo(Plant plant, std::ostream* out) {
  const char* const names[] = {"WorkingFolder", "PathFolder", "SystemFolder"};
  *out << names[static_cast<int>(plant)];
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length && length < MAX_PATH ? folder : L"";
}

class DllSearchTest : public ::testing::TestWithParam<Plant> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles.Ready());
    ASSERT_TRUE(tray.Ready());
    ASSERT_TRUE(planted.Ready());
    folder = GetParam() == Plant::SystemFolder ? SystemFolder() : planted.Folder();
    ASSERT_FALSE(folder.empty());
    names = {L"CVConfig.dll"};
    if (GetParam() != Plant::SystemFolder) names.push_back(L"RASAPI32.DLL");
    for (const std::wstring& name : names) {
      ASSERT_TRUE(CopyFileW(JoinPath(DoublesFolder(), L"marker\\marker.dll").c_str(), JoinPath(folder, name).c_str(), TRUE))
          << "error " << GetLastError();
    }
    // Settings that would show in the tray if the library were loaded from somewhere.
    ASSERT_TRUE(WriteSettingsKey(OPT_HOTKEY | OPT_AUTOSWITCH | OPT_AUTOSWITCH_TOOLTIPS, 0, CTRL_ALT_T, 8));
  }
  void TearDown() override {
    DeleteSettingsKey();
    for (const std::wstring& name : names) {
      DeleteFileW(JoinPath(folder, name).c_str());
      DeleteFileW(JoinPath(folder, name + L".loaded").c_str());
    }
  }

  // No library and no dial-up library beside the program; a native RASAPI32.DLL is looked for
  // wherever the loader searches.
  static StageOptions Bare(const std::wstring& program = L"") {
    StageOptions options;
    options.library = Library::Absent;
    options.dialUp = DialUp::Absent;
    options.program = program;
    return options;
  }

  // Starts the program with the planted folder as its current directory or on its PATH.
  void StartBeside(Program* program, const std::wstring& words) {
    program->SetDllOverrides(L"wininet=n;rasapi32=n");
    if (GetParam() == Plant::WorkingFolder) program->SetWorkingFolder(folder);
    if (GetParam() == Plant::PathFolder) program->SetPathFront(folder);
    ASSERT_TRUE(program->Start(words)) << std::string(program->Error().begin(), program->Error().end());
  }

  bool Loaded(const std::wstring& name) const { return FileExists(JoinPath(folder, name + L".loaded")); }

  DoubleState doubles;
  TrayRecorder tray;
  Stage planted{Bare()};
  std::wstring folder;              // where the markers are
  std::vector<std::wstring> names;  // the names they have there
};

void ExpectMissingLibraryBox(const std::optional<BoxRecord>& box) {
  ASSERT_TRUE(box);
  EXPECT_EQ(box->title, L"Missing Corvalent DLL file");
  EXPECT_EQ(box->text, L"Couldn't load CVConfig.DLL\n\nPlease re-install Corvalent.");
}

TEST_P(DllSearchTest, PlantedLibrariesAreNeverLoadedAndTheProgramRunsWithItsDefaults) {
  Stage stage(Bare());
  ASSERT_TRUE(stage.Ready());
  Program program(stage);
  StartBeside(&program, L"");
  BoxWatcher boxes(program.ProcessId());
  ExpectMissingLibraryBox(boxes.WaitForBox(0));
  HWND main = program.WaitForMainWindow();
  ASSERT_TRUE(main);
  std::optional<TrayRecord> added = tray.WaitForMatch([&](const TrayRecord& r) { return r.message == NIM_ADD; });
  ASSERT_TRUE(added);
  EXPECT_EQ(added->tip, L"Working Online") << "not the defaults";

  // Every later call looks for the library afresh, and again only beside the program.
  size_t before = tray.Count();
  ASSERT_TRUE(program.Post(Command(IDM_OPTIONS)));
  ExpectMissingLibraryBox(boxes.WaitForBox(1));
  ASSERT_TRUE(tray.WaitForMatch(IsModify, before));
  ASSERT_TRUE(program.Post(Command(IDM_EXIT)));
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(boxes.Count(), 2u);
  for (const std::wstring& name : names) EXPECT_FALSE(Loaded(name)) << "the planted " << name << " was loaded";

  // The plant works: a program that loads the library by name without restricting the search finds it.
  Stage helperStage(Bare(JoinPath(TestsFolder(), L"harness_helper.exe")));
  ASSERT_TRUE(helperStage.Ready());
  Program helper(helperStage);
  StartBeside(&helper, L"load CVConfig.dll");
  EXPECT_EQ(helper.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_TRUE(Loaded(L"CVConfig.dll"));
}

INSTANTIATE_TEST_SUITE_P(Plants, DllSearchTest,
                         ::testing::Values(Plant::WorkingFolder, Plant::PathFolder, Plant::SystemFolder));

}  // namespace
