// Resource ids of Corvalent.exe: tray icons, the tray menu and its commands.
// Shared by resources/corvalent.rc and the tray program's sources.
#ifndef CORVALENT_RES_H
#define CORVALENT_RES_H

#define IDI_ONLINE            101
#define IDI_OFFLINE           102
#define IDI_AUTO_OFFLINE      103
#define IDI_CONNECTED_ONLINE  104
#define IDI_AUTO_ONLINE       105
#define IDI_CONNECTED_OFFLINE 106

#define IDR_TRAY_MENU         107

#define IDM_ABOUT        40001
#define IDM_WORK_OFFLINE 40002
#define IDM_WORK_ONLINE  40003
#define IDM_CANCEL       40004
#define IDM_EXIT         40006
#define IDM_OPTIONS      40007

#endif
