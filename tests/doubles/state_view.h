// Opens the shared state block for the length of one call of a test double, and announces the call.
// Used by the wininet.dll and rasapi32.dll doubles.
#pragma once

#include "double_state.h"

// block is null when the test process has created no (or no matching) block. The destructor,
// at the end of the call, sets the block's event so that waiting tests look again.
struct StateView {
  StateView();
  ~StateView();
  StateView(const StateView&) = delete;
  StateView& operator=(const StateView&) = delete;

  HANDLE mapping;
  HANDLE called;
  DoubleStateBlock* block;
};

// Records one failed argument check in a violation counter and its kind word.
void CountViolation(volatile LONG* count, volatile LONG* kinds, LONG kind);
