// Measures what Corvalent.exe costs while nothing happens: WinInet, network list, dial-up and shell
// calls over a window of its own one-second timer. Run by scripts/bench-idle.sh, which also counts heap calls.
//
//   idle_bench <off|on|list> <seconds>
//
// off: AutoSwitch off; on: AutoSwitch and Aggressive Offline on, without a network list (as before
// Vista); list: the same with Windows' network list. Online and connected, nothing changes.
// Prints "<name> <count>" lines on stdout; marks the window on stderr with the program's process id,
// so that Wine's trace lines of that process inside the window can be picked out.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "harness.h"

#include <wininet.h>
#include <netlistmgr.h>

static const wchar_t SETTINGS_KEY[] = L"Software\\Bramlow Software\\Corvalent";
static const DWORD AUTOSWITCH_AND_AGGRESSIVE_OFFLINE = 0x04 | 0x20;
static const UINT_PTR POLL_TIMER = 101;
static const WORD MENU_EXIT = 40006;

static bool WriteSettings(DWORD options) {
  return harness::WriteSettingsKey(options);
}

struct Counts {
  LONG queries;
  LONG checks;
  LONG enumerations;
  LONG listCreations;
  LONG listQueries;
  LONG violations;
  size_t shellCalls;
};

static Counts Take(harness::DoubleState& doubles, const harness::TrayRecorder& tray) {
  return {doubles.WinInet().queryCount, doubles.WinInet().connectedCheckCount, doubles.DialUp().enumCount,
          doubles.NetworkList().createCount, doubles.NetworkList().connectivityCount + doubles.NetworkList().costCount,
          doubles.WinInet().violationCount + doubles.DialUp().violationCount + doubles.NetworkList().violationCount,
          tray.Count()};
}

static int Fail(const char* what) {
  fprintf(stderr, "idle_bench: %s\n", what);
  return 1;
}

// Starts the program, waits until start-up is over (icon added and drawn twice, then a posted poll
// tick handled by the message loop) and one more second, so that the window starts between ticks.
static int Settle(harness::Program& program, harness::DoubleState& doubles, const harness::TrayRecorder& tray) {
  if (!program.Start()) return Fail("Corvalent.exe did not start");
  if (!program.WaitForMainWindow()) return Fail("no Corvalent window");
  if (!tray.WaitForCount(3)) return Fail("the tray icon was not added and drawn");
  LONG queries = doubles.WinInet().queryCount;
  if (!program.Post(harness::Timer(POLL_TIMER))) return Fail("could not post to the Corvalent window");
  if (!doubles.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.queryCount > queries; })) {
    return Fail("the message loop did not run");
  }
  queries = doubles.WinInet().queryCount;
  if (!doubles.WaitFor([&](const DoubleStateBlock& block) { return block.wininet.queryCount > queries; }, 3000)) {
    return Fail("the poll timer does not tick");
  }
  return 0;
}

static int Measure(bool autoSwitch, bool networkList, DWORD seconds) {
  harness::DoubleState doubles;
  harness::TrayRecorder tray;
  if (!doubles.Ready() || !tray.Ready()) return Fail("doubles or tray recorder not ready");
  doubles.SetWorkingOffline(false);
  doubles.SetConnection(TRUE, INTERNET_CONNECTION_LAN);
  if (networkList) doubles.SetNetworkList(NLM_CONNECTIVITY_IPV4_INTERNET, NLM_CONNECTION_COST_UNRESTRICTED);
  if (!WriteSettings(autoSwitch ? AUTOSWITCH_AND_AGGRESSIVE_OFFLINE : 0)) return Fail("could not write the settings");
  harness::Stage stage;
  if (!stage.Ready()) return Fail("could not stage Corvalent.exe");
  harness::Program program(stage);
  int failed = Settle(program, doubles, tray);
  if (!failed) {
    Counts before = Take(doubles, tray);
    fprintf(stderr, "idle_bench: window start %04lx\n", program.ProcessId());
    fflush(stderr);
    // The window is plain waiting time; it ends early only when the program dies.
    WaitForSingleObject(program.Process(), seconds * 1000);
    fprintf(stderr, "idle_bench: window end %04lx\n", program.ProcessId());
    fflush(stderr);
    Counts after = Take(doubles, tray);
    if (!program.Running()) failed = Fail("Corvalent.exe ended inside the window");
    printf("seconds %lu\n", seconds);
    printf("state_queries %ld\n", after.queries - before.queries);
    printf("connection_checks %ld\n", after.checks - before.checks);
    printf("dialup_enumerations %ld\n", after.enumerations - before.enumerations);
    printf("list_creations %ld\n", after.listCreations - before.listCreations);
    printf("list_queries %ld\n", after.listQueries - before.listQueries);
    printf("shell_calls %zu\n", after.shellCalls - before.shellCalls);
    printf("violations %ld\n", after.violations);
    fflush(stdout);
  }
  program.Post(harness::Command(MENU_EXIT));
  if (!program.WaitForExit()) program.Kill();
  RegDeleteKeyW(HKEY_CURRENT_USER, SETTINGS_KEY);
  return failed;
}

int main(int argc, char** argv) {
  bool list = argc == 3 && strcmp(argv[1], "list") == 0;
  if (argc != 3 || (strcmp(argv[1], "off") != 0 && strcmp(argv[1], "on") != 0 && !list) || atoi(argv[2]) <= 0) {
    fprintf(stderr, "usage: idle_bench <off|on|list> <seconds>\n");
    return 2;
  }
  return Measure(strcmp(argv[1], "off") != 0, list, static_cast<DWORD>(atoi(argv[2])));
}
