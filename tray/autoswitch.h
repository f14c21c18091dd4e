// AutoSwitch (the state follows the Internet connection), Aggressive Offline and the dial-up binding.
// Used by the tray icon refresh, start-up and the final clean-up.
#ifndef AUTOSWITCH_H
#define AUTOSWITCH_H

extern int lastConnected;   // written by SetAutoSwitch and PollAutoSwitch, read by the tray icon
extern int lastMetered;     // the same: the connection of that poll was metered and counted as none

void SetAutoSwitch(int enable);
int PollAutoSwitch();
int LoadDialUpApi();
void UnloadDialUpApi();

#endif
