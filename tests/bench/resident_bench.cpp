// Measures what Corvalent.exe costs against a minimal tray program (minimal_tray.exe) and against the
// floor (the minimal program with "wininet": plus one WinInet state query a second): the time from
// start to its icon in the notification area, the time a second copy with "exit" takes to end the
// first, and the working set and private bytes after an idle period. Run by scripts/bench-resident.sh.
//
//   resident_bench <runs> <idle-seconds> [autoswitch]
//
// Every program runs from a stage as Corvalent.exe, with Wine's own WinInet and dial-up libraries.
// Prints "<figure> <program> <value>" lines on stdout (times in milliseconds, memory in KiB).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "harness.h"

#include <psapi.h>
#include <shellapi.h>

namespace {

struct Subject {
  const char* name;
  std::wstring file;       // staged as Corvalent.exe
  harness::Library library;
  const wchar_t* words;    // its command line
};

struct Times {
  std::vector<double> start;  // start to NIM_ADD received
  std::vector<double> exit;   // start of the "exit" copy to the end of the first copy
};

int Fail(const char* subject, const char* what) {
  fprintf(stderr, "resident_bench: %s: %s\n", subject, what);
  return 1;
}

double Now() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// A small file read whole (a /proc entry, whose size is not known beforehand).
std::string ReadFileText(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

harness::StageOptions OptionsOf(const Subject& subject) {
  harness::StageOptions options;
  options.program = subject.file;
  options.library = subject.library;
  options.winInetDouble = false;
  options.dialUp = harness::DialUp::Wine;
  return options;
}

// Waits for the NIM_ADD that comes at index from or later.
bool WaitForAdd(const harness::TrayRecorder& tray, size_t from) {
  return tray
      .WaitForMatch([](const harness::TrayRecord& record) { return record.message == NIM_ADD; }, from)
      .has_value();
}

// One start to the icon and one "exit" from a second copy.
int TimeOneRun(const Subject& subject, const harness::TrayRecorder& tray, Times* times) {
  harness::Stage stage(OptionsOf(subject));
  if (!stage.Ready()) return Fail(subject.name, "could not stage the program");
  harness::Program first(stage);
  size_t from = tray.Count();
  double started = Now();
  if (!first.Start(subject.words)) return Fail(subject.name, "did not start");
  if (!WaitForAdd(tray, from)) return Fail(subject.name, "added no tray icon");
  times->start.push_back(Now() - started);

  harness::Program second(stage);
  started = Now();
  if (!second.Start(L"exit")) return Fail(subject.name, "the exit copy did not start");
  if (WaitForSingleObject(first.Process(), harness::kWaitMs) != WAIT_OBJECT_0) {
    return Fail(subject.name, "the exit copy did not end the first copy");
  }
  times->exit.push_back(Now() - started);
  if (!second.WaitForExit()) return Fail(subject.name, "the exit copy did not end");
  return 0;
}

const int kSubjects = 3;

// The runs take turns, one of each program after the other, so that the load of a shared machine
// weighs on all of them alike.
int TimeRuns(const Subject (&subjects)[kSubjects], const harness::TrayRecorder& tray, int runs) {
  Times times[kSubjects];
  for (int run = 0; run < runs; run++) {
    for (int index = 0; index < kSubjects; index++) {
      if (TimeOneRun(subjects[index], tray, &times[index])) return 1;
    }
  }
  for (int index = 0; index < kSubjects; index++) {
    printf("start_ms %s %.1f\n", subjects[index].name, Median(times[index].start));
    printf("exit_ms %s %.1f\n", subjects[index].name, Median(times[index].exit));
  }
  return 0;
}

// The Unix process of a Wine program, found through Wine's Z: drive: the /proc entry whose command
// line holds the program's stage folder. Empty when there is none.
std::wstring UnixProcessFolder(const std::wstring& stageFolder) {
  std::string folderName;
  for (wchar_t c : harness::FileNameOf(stageFolder)) folderName += static_cast<char>(c);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring match;
  do {
    if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
    std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
    if (ReadFileText(harness::JoinPath(folder, L"cmdline")).find(folderName) != std::string::npos) match = folder;
  } while (match.empty() && FindNextFileW(search, &found));
  FindClose(search);
  return match;
}

// The sum of the kB figures of the named lines of a /proc file ("Private_Dirty:   12 kB").
unsigned long SumOfLines(const std::string& text, std::initializer_list<const char*> names) {
  unsigned long sum = 0;
  for (const char* name : names) {
    size_t at = text.find(std::string("\n") + name + ":");
    if (at != std::string::npos) sum += strtoul(text.c_str() + at + strlen(name) + 2, nullptr, 10);
  }
  return sum;
}

// Working set as Windows reports it (Wine: the resident set), and the private resident pages of
// the Unix process (Wine does not report private bytes of another process).
int PrintMemory(const Subject& subject, const harness::Program& program, const harness::Stage& stage) {
  PROCESS_MEMORY_COUNTERS counters = {};
  if (!GetProcessMemoryInfo(program.Process(), &counters, sizeof counters)) {
    return Fail(subject.name, "no memory counters");
  }
  std::wstring unixFolder = UnixProcessFolder(stage.Folder());
  if (unixFolder.empty()) return Fail(subject.name, "its Unix process was not found under Z:\\proc");
  std::string rollup = "\n" + ReadFileText(harness::JoinPath(unixFolder, L"smaps_rollup"));
  printf("working_set_kib %s %zu\n", subject.name, counters.WorkingSetSize / 1024);
  printf("private_kib %s %lu\n", subject.name, SumOfLines(rollup, {"Private_Clean", "Private_Dirty"}));
  return 0;
}

// The programs idle side by side for the same period, then their memory is read.
int MeasureIdle(const Subject (&subjects)[kSubjects], const harness::TrayRecorder& tray, DWORD seconds) {
  harness::Stage stages[kSubjects] = {harness::Stage(OptionsOf(subjects[0])), harness::Stage(OptionsOf(subjects[1])),
                                      harness::Stage(OptionsOf(subjects[2]))};
  harness::Program programs[kSubjects] = {harness::Program(stages[0]), harness::Program(stages[1]),
                                          harness::Program(stages[2])};
  HANDLE processes[kSubjects];
  for (int index = 0; index < kSubjects; index++) {
    size_t from = tray.Count();
    if (!stages[index].Ready() || !programs[index].Start(subjects[index].words) || !WaitForAdd(tray, from)) {
      return Fail(subjects[index].name, "did not start to its icon");
    }
    processes[index] = programs[index].Process();
  }
  // The idle period is plain waiting time; it ends early only when a program dies.
  if (WaitForMultipleObjects(kSubjects, processes, FALSE, seconds * 1000) != WAIT_TIMEOUT) {
    return Fail("idle", "a program ended during the idle period");
  }
  printf("idle_seconds %lu\n", seconds);
  int failed = 0;
  for (int index = 0; index < kSubjects; index++) failed |= PrintMemory(subjects[index], programs[index], stages[index]);
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  bool autoSwitch = argc == 4 && strcmp(argv[3], "autoswitch") == 0;
  int runs = argc == 3 || autoSwitch ? atoi(argv[1]) : 0;
  int seconds = argc == 3 || autoSwitch ? atoi(argv[2]) : 0;
  if (runs <= 0 || seconds <= 0) {
    fprintf(stderr, "usage: resident_bench <runs> <idle-seconds> [autoswitch]\n");
    return 2;
  }
  // Corvalent with AutoSwitch on asks for the connection every third second (Wine's network list).
  if (autoSwitch && !harness::WriteSettingsKey(0x04)) return Fail("corvalent", "could not write the settings");
  harness::TrayRecorder tray;
  if (!tray.Ready()) return Fail("tray", "the recording notification area is not ready");
  std::wstring minimal = harness::JoinPath(harness::TestsFolder(), L"minimal_tray.exe");
  const Subject subjects[kSubjects] = {
      {"corvalent", harness::JoinPath(harness::BinFolder(), L"Corvalent.exe"), harness::Library::Real, L""},
      {"minimal", minimal, harness::Library::Absent, L""},
      {"floor", minimal, harness::Library::Absent, L"wininet"}};
  printf("runs %d\n", runs);
  if (TimeRuns(subjects, tray, runs)) return 1;
  fflush(stdout);
  return MeasureIdle(subjects, tray, static_cast<DWORD>(seconds));
}
