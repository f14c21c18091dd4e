// The stack guard of the deliverables, linked into stack_smash.exe and guard_library.dll: an
// overwritten cookie ends the process with the overrun status, and each start or load seeds another.
#include <gtest/gtest.h>

#include "harness.h"

// Runs stack_smash.exe with the words; its exit code, or nothing when it did not end in time.
static std::optional<DWORD> RunSmash(const std::wstring& words)
{
  std::wstring command = L"\"" + harness::JoinPath(harness::TestsFolder(), L"stack_smash.exe") + L"\" " + words;
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return std::nullopt;
  CloseHandle(process.hThread);
  DWORD code = 0;
  bool ended = WaitForSingleObject(process.hProcess, harness::kWaitMs) == WAIT_OBJECT_0
               && GetExitCodeProcess(process.hProcess, &code);
  if (!ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hProcess);
  return ended ? std::optional<DWORD>(code) : std::nullopt;
}

// Both Wines report the fast-fail request available. Wine 8 and 10 carry it out with the overrun
// status on x86_64; qemu's i386 emulation (the i686 runs) does not carry out int 0x29, which Wine
// then reports as an illegal instruction: there the end must be the bare request's.
TEST(StackGuard, OverwrittenCookieEndsTheProcessWithTheOverrunStatus) {
  std::optional<DWORD> fastFail = RunSmash(L"fastfail"), smashed = RunSmash(L"");
  ASSERT_TRUE(fastFail && smashed);
  EXPECT_EQ(*smashed, *fastFail);
  if (*fastFail != STATUS_ILLEGAL_INSTRUCTION || sizeof(void*) == 8)
    EXPECT_EQ(*smashed, STATUS_STACK_BUFFER_OVERRUN);
}

TEST(StackGuard, EachStartSeedsAnotherCookie) {
  std::optional<DWORD> first = RunSmash(L"guard"), second = RunSmash(L"guard");
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_NE(*first, STATUS_STACK_BUFFER_OVERRUN);
}

TEST(StackGuard, EachLoadOfALibrarySeedsAnotherCookie) {
  UINT_PTR guards[2] = {};
  for (UINT_PTR& guard : guards) {
    HMODULE library = LoadLibraryW(harness::JoinPath(harness::TestsFolder(), L"guard_library.dll").c_str());
    ASSERT_NE(library, nullptr);
    auto stackGuard = reinterpret_cast<UINT_PTR (*)()>(GetProcAddress(library, "StackGuard"));
    guard = stackGuard ? stackGuard() : 0;
    FreeLibrary(library);
    ASSERT_NE(guard, 0u);
  }
  EXPECT_NE(guards[0], guards[1]);
}
