// Opens the shared state block for the length of one call of a test double, and announces the call.
// Used by the wininet.dll and rasapi32.dll doubles.
#include "state_view.h"

static const DWORD NAME_SIZE = 128;

static void BlockName(wchar_t* name) {
  DWORD length = GetEnvironmentVariableW(DOUBLE_STATE_NAME_VARIABLE, name, NAME_SIZE - 16);
  if (length == 0 || length >= NAME_SIZE - 16) lstrcpyW(name, DOUBLE_STATE_NAME);
}

static bool Matches(const DoubleStateBlock* block) {
  return block->magic == DOUBLE_STATE_MAGIC && block->version == DOUBLE_STATE_VERSION &&
         block->size == static_cast<LONG>(sizeof(DoubleStateBlock));
}

StateView::StateView() : mapping(nullptr), called(nullptr), block(nullptr) {
  wchar_t name[NAME_SIZE];
  BlockName(name);
  mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
  if (!mapping) return;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DoubleStateBlock));
  if (!view) return;
  block = static_cast<DoubleStateBlock*>(view);
  if (!Matches(block)) {
    UnmapViewOfFile(view);
    block = nullptr;
    return;
  }
  lstrcatW(name, DOUBLE_STATE_EVENT_SUFFIX);
  called = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
}

StateView::~StateView() {
  if (called) {
    SetEvent(called);
    CloseHandle(called);
  }
  if (block) UnmapViewOfFile(const_cast<DoubleStateBlock*>(block));
  if (mapping) CloseHandle(mapping);
}

void CountViolation(volatile LONG* count, volatile LONG* kinds, LONG kind) {
  InterlockedIncrement(count);
  InterlockedOr(kinds, kind);
}
