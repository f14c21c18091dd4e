// Windows' network list (Vista and later) through COM on the window thread: whether a routed network is connected.
// Used by the connection check; the one manager object is held from the first question to the clean-up.
#include "netlist.h"
#include <windows.h>
#include <netlistmgr.h>

// IPv4 or IPv6 connectivity to a routed network. The Internet bits alone need Windows' own probe,
// which many networks behind a proxy block; a subnet alone is what a virtual switch gives the host.
static const DWORD ROUTED_CONNECTIVITY = NLM_CONNECTIVITY_IPV4_LOCALNETWORK | NLM_CONNECTIVITY_IPV4_INTERNET
                                         | NLM_CONNECTIVITY_IPV6_LOCALNETWORK | NLM_CONNECTIVITY_IPV6_INTERNET;

static int comState;   // 1 while this thread's apartment is ours to end, -1 when it was refused
static INetworkListManager *networkList;

// The held manager; made on first use and again after a failed call. Null without a network list.
static INetworkListManager *NetworkList()
{
    if (networkList)
        return networkList;
    if (comState == 0)
        comState = SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) ? 1 : -1;
    if (comState != 1)
        return NULL;
    if (FAILED(CoCreateInstance(CLSID_NetworkListManager, NULL, CLSCTX_ALL, IID_INetworkListManager,
                                (void **)&networkList)))
        networkList = NULL;
    return networkList;
}

int AskNetworkList()
{
    INetworkListManager *list = NetworkList();
    if (!list)
        return NETWORK_UNKNOWN;
    NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
    if (FAILED(list->GetConnectivity(&connectivity))) {
        // An object whose service has gone answers nothing more: the next question makes a new one.
        list->Release();
        networkList = NULL;
        return NETWORK_UNKNOWN;
    }
    return connectivity & ROUTED_CONNECTIVITY ? NETWORK_CONNECTED : NETWORK_NONE;
}

void ReleaseNetworkList()
{
    if (networkList) {
        networkList->Release();
        networkList = NULL;
    }
    if (comState == 1)
        CoUninitialize();
    comState = 0;
}
