// Tests of reading the command words: the flags each text sets, and the box for an unknown word.
// Part of tray_units, linked with the tray program's own objects; the boxes are read in-process.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "startup.h"

namespace {

// The longest word that the 255-character message shows whole, and how much of a longer one it keeps.
const size_t kLongestShownWord = 218;
const size_t kKeptOfCutWord = 215;
const size_t kWordBufferLength = 255;

const char* const kKeywords[] = {"options", "exit", "uninstall", "startup"};

struct Flags {
  int options;
  int exit;
  int uninstall;
  int startup;
  bool operator==(const Flags& other) const {
    return options == other.options && exit == other.exit && uninstall == other.uninstall &&
           startup == other.startup;
  }
};

void PrintTo(const Flags& flags, std::ostream* out) {
  *out << "{options " << flags.options << ", exit " << flags.exit << ", uninstall " << flags.uninstall
       << ", startup " << flags.startup << "}";
}

const Flags kNone = {0, 0, 0, 0};

Flags CurrentFlags() {
  return {cmdOptions, cmdExit, cmdUninstall, cmdStartup};
}

// Sets the flag of keyword index (the order of kKeywords) in flags.
void SetFlag(Flags* flags, size_t index) {
  int* const fields[] = {&flags->options, &flags->exit, &flags->uninstall, &flags->startup};
  *fields[index] = 1;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

// The text of the box for an unknown word: a word too long for the message keeps its first
// 215 characters and ends in "...", so the message never exceeds 255 characters.
std::wstring ExpectedMessage(const std::string& word) {
  std::string shown = word.size() > kLongestShownWord ? word.substr(0, kKeptOfCutWord) + "..." : word;
  return Widen("Corvalent doesn't know what \"" + shown + "\" means.");
}

// A word of the given length whose every position can be told apart from its neighbours.
std::string PatternWord(size_t length) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string word(length, ' ');
  for (size_t index = 0; index < length; index++) word[index] = kAlphabet[index % (sizeof kAlphabet - 1)];
  return word;
}

bool SameIgnoringAsciiCase(const std::string& word, const char* keyword) {
  if (word.size() != strlen(keyword)) return false;
  for (size_t index = 0; index < word.size(); index++) {
    char c = word[index];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != keyword[index]) return false;
  }
  return true;
}

// What reading a text must give: the result, the flags, and the first unknown word if any.
struct Outcome {
  int result;
  Flags flags;
  std::string unknownWord;
};

// The reading of a text as the program must do it: words are separated by spaces (code 32
// only); a text that ends in spaces ends in an empty word; the first unknown word stops it.
Outcome ExpectedOutcome(const std::string& text) {
  Outcome outcome = {0, kNone, std::string()};
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && text[at] == ' ') at++;
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end;
    size_t match = 0;
    while (match < 4 && !SameIgnoringAsciiCase(word, kKeywords[match])) match++;
    if (match == 4) {
      outcome.result = 1;
      outcome.unknownWord = word;
      return outcome;
    }
    SetFlag(&outcome.flags, match);
  }
  return outcome;
}

// A copy of a text whose terminating NUL is the last byte before a no-access page, so that a
// read past the end of the text faults at once.
class GuardedText {
 public:
  explicit GuardedText(const std::string& text) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t pages = (text.size() + 1 + system.dwPageSize - 1) / system.dwPageSize;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, (pages + 1) * system.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base_) return;
    DWORD old;
    if (!VirtualProtect(base_ + pages * system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old)) return;
    text_ = base_ + pages * system.dwPageSize - text.size() - 1;
    memcpy(text_, text.c_str(), text.size() + 1);
  }
  ~GuardedText() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  GuardedText(const GuardedText&) = delete;
  GuardedText& operator=(const GuardedText&) = delete;
  const char* Text() const { return text_; }

 private:
  char* base_ = nullptr;
  char* text_ = nullptr;
};

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override { ResetFlags(); }

  static void ResetFlags() {
    cmdOptions = 0;
    cmdExit = 0;
    cmdUninstall = 0;
    cmdStartup = 0;
  }

  // Reads text (placed against a guard page) and checks the result, the flags and the one box
  // (or that no box was shown).
  void ExpectReading(const std::string& text, const Outcome& expected) {
    GuardedText guarded(text);
    ASSERT_NE(nullptr, guarded.Text()) << "no guarded copy of the text";
    size_t boxesBefore = boxes_.Count();
    EXPECT_EQ(expected.result, ParseCommandLine(nullptr, guarded.Text()));
    EXPECT_EQ(expected.flags, CurrentFlags());
    if (expected.result == 0) {
      EXPECT_EQ(boxesBefore, boxes_.Count()) << "a box was shown for a text of known words";
      return;
    }
    std::optional<harness::BoxRecord> box = boxes_.WaitForBox(boxesBefore);
    ASSERT_TRUE(box.has_value()) << "no box for an unknown word";
    ExpectBadCommandBox(*box, expected.unknownWord);
    EXPECT_EQ(boxesBefore + 1, boxes_.Count()) << "more than one box for one text";
  }

  static void ExpectBadCommandBox(const harness::BoxRecord& box, const std::string& word) {
    EXPECT_EQ(ExpectedMessage(word), box.text);
    EXPECT_LE(box.text.size(), 255u);
    EXPECT_EQ(L"Corvalent Bad Command", box.title);
    EXPECT_EQ(harness::BoxIcon::Warning, box.icon) << harness::BoxIconName(box.icon);
    EXPECT_TRUE(box.OnlyOk()) << ::testing::PrintToString(box);
    EXPECT_EQ(nullptr, box.owner);
  }

  harness::BoxWatcher boxes_;
};

Outcome Known(const Flags& flags) {
  return {0, flags, std::string()};
}

Outcome Unknown(const Flags& flags, const std::string& word) {
  return {1, flags, word};
}

TEST(GuardedTextTest, TheByteAfterTheTextsEndIsInANoAccessPage) {
  for (size_t length : {0u, 1u, 4095u, 4096u, 65536u}) {
    GuardedText guarded(std::string(length, 'x'));
    ASSERT_NE(nullptr, guarded.Text());
    EXPECT_EQ(length, strlen(guarded.Text()));
    MEMORY_BASIC_INFORMATION page;
    ASSERT_NE(0u, VirtualQuery(guarded.Text() + length + 1, &page, sizeof page));
    EXPECT_EQ(static_cast<DWORD>(PAGE_NOACCESS), page.Protect) << "length " << length;
  }
}

TEST_F(CommandLine, NullTextGivesZeroAndSetsNothing) {
  EXPECT_EQ(0, ParseCommandLine(nullptr, nullptr));
  EXPECT_EQ(kNone, CurrentFlags());
  EXPECT_EQ(0u, boxes_.Count());
}

TEST_F(CommandLine, EmptyTextGivesZeroAndSetsNothing) {
  ExpectReading("", Known(kNone));
}

TEST_F(CommandLine, EachWordInAnyCaseSetsOnlyItsOwnFlag) {
  for (size_t index = 0; index < 4; index++) {
    std::string lower = kKeywords[index];
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    std::string capital = lower;
    capital[0] = upper[0];
    std::string mixed = lower;
    for (size_t at = 1; at < mixed.size(); at += 2) mixed[at] = upper[at];
    Flags flags = kNone;
    SetFlag(&flags, index);
    for (const std::string& word : {lower, upper, capital, mixed}) {
      SCOPED_TRACE(word);
      ResetFlags();
      ExpectReading(word, Known(flags));
    }
  }
}

TEST_F(CommandLine, TwoSpacesBetweenWordsMakeTwoWords) {
  ExpectReading("startup  options", Known({1, 0, 0, 1}));
}

TEST_F(CommandLine, TrailingSpaceMakesAnEmptyUnknownWord) {
  ExpectReading("exit ", Unknown({0, 1, 0, 0}, ""));
  const std::vector<harness::BoxRecord> shown = boxes_.Boxes();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(L"Corvalent doesn't know what \"\" means.", shown[0].text);
}

TEST_F(CommandLine, TabBetweenWordsMakesOneUnknownWord) {
  ExpectReading("exit\tstartup", Unknown(kNone, "exit\tstartup"));
}

TEST_F(CommandLine, FirstUnknownWordIsReportedAndLaterWordsAreNotRead) {
  ExpectReading("options bogus exit other uninstall", Unknown({1, 0, 0, 0}, "bogus"));
}

TEST_F(CommandLine, RepeatedWordsAreAcceptedAndSetTheirFlagOnce) {
  ExpectReading("exit EXIT Exit startup exit", Known({0, 1, 0, 1}));
}

TEST_F(CommandLine, AllFourWordsInAnyOrderSetAllFourFlags) {
  ExpectReading("startup UNINSTALL exit Options", Known({1, 1, 1, 1}));
}

TEST_F(CommandLine, EveryTableTextGivesItsResultFlagsAndBox) {
  struct Row {
    const char* text;
    Outcome outcome;
  };
  const Row rows[] = {
      {"options", Known({1, 0, 0, 0})},
      {"   exit", Known({0, 1, 0, 0})},
      {"uninstall   startup", Known({0, 0, 1, 1})},
      {"options exit", Known({1, 1, 0, 0})},
      {"exit uninstall", Known({0, 1, 1, 0})},
      {"options startup", Known({1, 0, 0, 1})},
      {"bogus", Unknown(kNone, "bogus")},
      {"exit bogus", Unknown({0, 1, 0, 0}, "bogus")},
      {"bogus exit", Unknown(kNone, "bogus")},
      {"exits", Unknown(kNone, "exits")},
      {"exi", Unknown(kNone, "exi")},
      {"option", Unknown(kNone, "option")},
      {"-options", Unknown(kNone, "-options")},
      {"/exit", Unknown(kNone, "/exit")},
      {"\"exit\"", Unknown(kNone, "\"exit\"")},
      {"\texit", Unknown(kNone, "\texit")},
      {"startup\t", Unknown(kNone, "startup\t")},
      {"options  ", Unknown({1, 0, 0, 0}, "")},
      {"options uninstall startup exit bogus", Unknown({1, 1, 1, 1}, "bogus")},
      {"%s%s%s%n", Unknown(kNone, "%s%s%s%n")},
      {"start up", Unknown(kNone, "start")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(std::string(row.text)));
    ResetFlags();
    ExpectReading(row.text, row.outcome);
  }
}

// Words of these lengths do not fit the word buffer, the message, or both.
class LongWord : public CommandLine, public ::testing::WithParamInterface<size_t> {};

TEST_P(LongWord, IsReportedCutToFitTheMessageAndGivesOne) {
  std::string word = PatternWord(GetParam());
  ExpectReading(word, Unknown(kNone, word));
}

TEST_P(LongWord, AfterKnownWordStopsTheReadingOfLaterWords) {
  std::string word = PatternWord(GetParam());
  ExpectReading("options " + word + " exit", Unknown({1, 0, 0, 0}, word));
}

TEST_P(LongWord, BeginningWithAKeywordIsStillUnknown) {
  std::string word = "startup" + PatternWord(GetParam() - 7);
  ExpectReading(word, Unknown(kNone, word));
}

INSTANTIATE_TEST_SUITE_P(CommandLine, LongWord,
                         ::testing::Values(kLongestShownWord, kLongestShownWord + 1, kWordBufferLength,
                                           kWordBufferLength + 1, 300, 70000));

TEST_F(CommandLine, LongestWordThatFitsTheMessageIsShownWhole) {
  std::string word = PatternWord(kLongestShownWord);
  ExpectReading(word, Unknown(kNone, word));
  ASSERT_EQ(1u, boxes_.Count());
  EXPECT_EQ(255u, boxes_.Boxes()[0].text.size());
  EXPECT_EQ(std::wstring::npos, boxes_.Boxes()[0].text.find(L"..."));
}

TEST_F(CommandLine, WordOfSeventyThousandCharactersShowsItsFirst215ThenThreeDots) {
  std::string word = PatternWord(70000);
  GuardedText guarded(word);
  ASSERT_NE(nullptr, guarded.Text());
  EXPECT_EQ(1, ParseCommandLine(nullptr, guarded.Text()));
  std::optional<harness::BoxRecord> box = boxes_.WaitForBox(0);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(Widen("Corvalent doesn't know what \"" + word.substr(0, 215) + "...\" means."), box->text);
  EXPECT_EQ(255u, box->text.size());
}

// Random texts: keywords in random case, words of random bytes (never NUL, sometimes tabs,
// sometimes very long), runs of spaces; some texts hold keywords only. Fixed seed.
std::string RandomWord(std::mt19937& random, size_t longest) {
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> byte(1, 255);
  size_t length;
  int which = kind(random);
  if (which < 6) {
    length = std::uniform_int_distribution<size_t>(1, 12)(random);
  } else if (which < 9) {
    length = std::uniform_int_distribution<size_t>(13, 600)(random);
  } else {
    length = std::uniform_int_distribution<size_t>(1, longest)(random);
  }
  std::string word;
  while (word.size() < length) {
    char c = static_cast<char>(byte(random));
    if (c != ' ') word += c;
  }
  return word;
}

std::string RandomKeyword(std::mt19937& random) {
  std::string word = kKeywords[std::uniform_int_distribution<int>(0, 3)(random)];
  for (char& c : word) {
    if (std::uniform_int_distribution<int>(0, 1)(random)) c = static_cast<char>(c - 'a' + 'A');
  }
  return word;
}

std::string RandomText(std::mt19937& random, bool keywordsOnly) {
  const size_t kLongest = 64 * 1024;
  size_t target = std::uniform_int_distribution<int>(0, 3)(random) == 0
                      ? std::uniform_int_distribution<size_t>(1, kLongest)(random)
                      : std::uniform_int_distribution<size_t>(1, 200)(random);
  std::uniform_int_distribution<int> spaces(1, 3);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string text;
  if (percent(random) < 20) text.append(spaces(random), ' ');
  while (text.size() < target) {
    bool keyword = keywordsOnly || percent(random) < 70;
    text += keyword ? RandomKeyword(random) : RandomWord(random, target);
    if (text.size() < target || percent(random) < 15) text.append(spaces(random), ' ');
  }
  return text.substr(0, kLongest);
}

TEST_F(CommandLine, RandomTextsNeverCrashAndReportTheirFirstUnknownWord) {
  std::mt19937 random(20261207);
  int unknown = 0;
  int known = 0;
  for (int round = 0; round < 60; round++) {
    std::string text = RandomText(random, round % 4 == 0);
    SCOPED_TRACE("round " + std::to_string(round) + ", text length " + std::to_string(text.size()));
    ResetFlags();
    Outcome expected = ExpectedOutcome(text);
    (expected.result ? unknown : known)++;
    ExpectReading(text, expected);
    if (HasFatalFailure()) return;
  }
  // The texts must have reached both ends of the reading.
  EXPECT_GT(unknown, 10);
  EXPECT_GT(known, 5);
}

TEST_F(CommandLine, RandomBytesWithSpacesAndTabsNeverCrashAndReportTheFirstUnknownWord) {
  std::mt19937 random(7041966);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> percent(0, 99);
  for (int round = 0; round < 20; round++) {
    size_t length = std::uniform_int_distribution<size_t>(1, 64 * 1024)(random);
    std::string text;
    while (text.size() < length) {
      int which = percent(random);
      text += which < 5 ? ' ' : which < 8 ? '\t' : static_cast<char>(byte(random));
    }
    SCOPED_TRACE("round " + std::to_string(round) + ", text length " + std::to_string(text.size()));
    ResetFlags();
    Outcome expected = ExpectedOutcome(text);
    ExpectReading(text, expected);
    if (HasFatalFailure()) return;
  }
}

// "uninstall" refused by the running copy (it runs elevated): this copy ends it with "exit" and
// uninstalls once its process has ended, here this test's, which outlives the wait. Other answers stand.
UINT standInRequest;
LRESULT CALLBACK StandInCopy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER) standInRequest = message;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(Uninstall, RefusedByAnElevatedCopyEndsItWithExitAndRemovesNothingWhileItRuns) {
  HWND copy = CreateWindowExW(0, L"Static", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(SetWindowLongPtrW(copy, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StandInCopy)) && harness::WriteSettingsKey(0));
  for (int answer : {0, 1, static_cast<int>(ERROR_ACCESS_DENIED)}) {
    standInRequest = 0;
    EXPECT_EQ(UninstallAfterAnswer(copy, answer), answer == 0 ? 0 : 1);
    EXPECT_EQ(standInRequest, answer > 1 ? 1026u : 0u) << answer;  // MSG_EXIT
  }
  EXPECT_TRUE(harness::ReadSettingsWord(L"Options").has_value()) << "uninstalled beside a running copy";
  harness::DeleteSettingsKey();
  DestroyWindow(copy);
}

}  // namespace
