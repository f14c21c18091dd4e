// Windows' network list: whether a routed network is connected, and whether that connection is
// metered. Asked by the connection check; released by the final clean-up.
#ifndef NETLIST_H
#define NETLIST_H

// Answers of AskNetworkList
#define NETWORK_ABSENT    -1   // no network list on this system (before Vista, COM refused): for the run
#define NETWORK_NONE       0
#define NETWORK_CONNECTED  1
#define NETWORK_METERED    2   // connected, at a cost; only when the cost was asked for

int AskNetworkList(int askCost);
void ReleaseNetworkList();

#endif
