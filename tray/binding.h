// The tray program's side of CVConfig: one load, call and unload per operation.
// Used by start-up and the window procedure.
#ifndef BINDING_H
#define BINDING_H

#include "cvconfig.h"

// Results of CallConfig besides those of CVCInterface
#define CONFIG_FAILED_LOAD 1
#define CONFIG_FAILED_PROC 3
#define CONFIG_BUSY        4

extern int configBusy;   // 1 while CallConfig has the library loaded

LONG CallConfig(LONG operation, Settings *record);
int ShowOptions();
int ShowAbout();

#endif
