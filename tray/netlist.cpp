// Windows' network list (Vista and later) through COM on the window thread: connectivity and cost.
// Used by the connection check; the one manager object is held from the first question to the clean-up.
#include "netlist.h"
#include <windows.h>
#include <netlistmgr.h>

// IPv4 or IPv6 connectivity to a routed network. The Internet bits alone need Windows' own probe,
// which many networks behind a proxy block; a subnet alone is what a virtual switch gives the host.
static const DWORD ROUTED_CONNECTIVITY = NLM_CONNECTIVITY_IPV4_LOCALNETWORK | NLM_CONNECTIVITY_IPV4_INTERNET
                                         | NLM_CONNECTIVITY_IPV6_LOCALNETWORK | NLM_CONNECTIVITY_IPV6_INTERNET;
// Paid by the amount or by a plan, or a plan over its limit or roaming.
static const DWORD METERED_COST = NLM_CONNECTION_COST_FIXED | NLM_CONNECTION_COST_VARIABLE
                                  | NLM_CONNECTION_COST_OVERDATALIMIT | NLM_CONNECTION_COST_ROAMING;

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

// The cost of the connection Windows uses for the Internet; Windows 8 and later, else no cost.
static int IsMetered(INetworkListManager *list)
{
    INetworkCostManager *costManager = NULL;
    if (FAILED(list->QueryInterface(IID_INetworkCostManager, (void **)&costManager)))
        return 0;
    DWORD cost = NLM_CONNECTION_COST_UNKNOWN;
    HRESULT result = costManager->GetCost(&cost, NULL);
    costManager->Release();
    return SUCCEEDED(result) && (cost & METERED_COST);
}

int AskNetworkList(int askCost)
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
    if (!(connectivity & ROUTED_CONNECTIVITY))
        return NETWORK_NONE;
    return askCost && IsMetered(list) ? NETWORK_METERED : NETWORK_CONNECTED;
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
