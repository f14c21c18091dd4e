// Windows' network list (Vista and later) through COM on the window thread: connectivity and cost.
// Used by the connection check; COM is loaded at the first question and held with the list to the clean-up.
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

// A cost that is no answer about any connection: Windows knows no cost, or no Internet connection.
#define COST_UNKNOWN ((DWORD)-1)

typedef HRESULT (WINAPI *CoInitializeExProc)(void *reserved, DWORD model);
typedef HRESULT (WINAPI *CoCreateInstanceProc)(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **object);
typedef void (WINAPI *CoUninitializeProc)();

static HMODULE comLibrary;
static CoCreateInstanceProc coCreateInstance;
static CoUninitializeProc coUninitialize;
static int comState;      // 1 while this thread's apartment is ours to end, -1 when there is no list for the run
static INetworkListManager *networkList;
static int lastAnswer = NETWORK_ABSENT;   // stands while the list fails; WinInet's turn until the first answer
static int asking;        // a question is under way; one that comes inside it gets the last answer

// COM from the system folder (never by a bare name, which the program's folder could answer), and
// this thread's apartment. Once per run: a refusal means no network list.
static int StartCom()
{
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length > MAX_PATH - sizeof "\\ole32.dll")
        return -1;
    lstrcatW(path, L"\\ole32.dll");
    comLibrary = LoadLibraryW(path);
    if (!comLibrary)
        return -1;
    CoInitializeExProc coInitializeEx = (CoInitializeExProc)(void (*)())GetProcAddress(comLibrary, "CoInitializeEx");
    coCreateInstance = (CoCreateInstanceProc)(void (*)())GetProcAddress(comLibrary, "CoCreateInstance");
    coUninitialize = (CoUninitializeProc)(void (*)())GetProcAddress(comLibrary, "CoUninitialize");
    if (coInitializeEx && coCreateInstance && coUninitialize
        && SUCCEEDED(coInitializeEx(NULL, COINIT_APARTMENTTHREADED)))
        return 1;
    FreeLibrary(comLibrary);
    comLibrary = NULL;
    return -1;
}

static void DropNetworkList()
{
    if (networkList)
        networkList->Release();
    networkList = NULL;
}

// The list released, the apartment ended and COM unloaded.
static void StopCom()
{
    DropNetworkList();
    if (comState == 1)
        coUninitialize();
    if (comLibrary)
        FreeLibrary(comLibrary);
    comLibrary = NULL;
}

// The held manager, made on first use and after a failed call; null while none can be had.
// A class or interface that does not exist stays so for the run. Any other refusal (the service
// starting or stopping, memory, the server failing) may pass: the next poll tries again.
static INetworkListManager *NetworkList()
{
    if (networkList || comState == -1)
        return networkList;
    if (comState == 0)
        comState = StartCom();
    if (comState != 1)
        return NULL;
    HRESULT result = coCreateInstance(CLSID_NetworkListManager, NULL, CLSCTX_ALL, IID_INetworkListManager,
                                      (void **)&networkList);
    if (FAILED(result)) {
        networkList = NULL;
        if (result == REGDB_E_CLASSNOTREG || result == CLASS_E_CLASSNOTAVAILABLE || result == E_NOINTERFACE) {
            StopCom();
            comState = -1;
        }
    }
    return networkList;
}

// One connection's cost: 1 metered, 0 not (or not connected, or no cost before Windows 8), -1 failed.
static int IsConnectionMetered(INetworkConnection *connection)
{
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (FAILED(connection->get_IsConnected(&connected)))
        return -1;
    if (connected != VARIANT_TRUE)
        return 0;
    INetworkConnectionCost *connectionCost = NULL;
    HRESULT result = connection->QueryInterface(IID_INetworkConnectionCost, (void **)&connectionCost);
    if (result == E_NOINTERFACE)
        return 0;
    if (FAILED(result))
        return -1;
    DWORD cost = NLM_CONNECTION_COST_UNKNOWN;
    result = connectionCost->GetCost(&cost);
    connectionCost->Release();
    if (result == HRESULT_FROM_WIN32(ERROR_NO_NETWORK))
        return 0;
    return FAILED(result) ? -1 : (cost & METERED_COST) != 0;
}

// Whether any connected network's connection is metered: 1, 0, or -1 when a call failed.
static int AnyConnectionMetered(INetworkListManager *list)
{
    IEnumNetworkConnections *connections = NULL;
    if (FAILED(list->GetNetworkConnections(&connections)))
        return -1;
    int metered = 0;
    for (;;) {
        INetworkConnection *connection = NULL;
        ULONG fetched = 0;
        HRESULT result = connections->Next(1, &connection, &fetched);
        if (FAILED(result))
            metered = -1;
        if (result != S_OK || fetched != 1 || !connection)
            break;
        metered = IsConnectionMetered(connection);
        connection->Release();
        if (metered != 0)
            break;
    }
    connections->Release();
    return metered;
}

// The cost of the connection Windows uses for the Internet (Windows 8 and later, else 0), or
// COST_UNKNOWN when Windows knows none; *failed set when a call failed.
static DWORD InternetCost(INetworkListManager *list, int *failed)
{
    INetworkCostManager *costManager = NULL;
    HRESULT result = list->QueryInterface(IID_INetworkCostManager, (void **)&costManager);
    if (result == E_NOINTERFACE)
        return 0;
    if (FAILED(result)) {
        *failed = 1;
        return 0;
    }
    DWORD cost = NLM_CONNECTION_COST_UNKNOWN;
    result = costManager->GetCost(&cost, NULL);
    costManager->Release();
    if (result == HRESULT_FROM_WIN32(ERROR_NO_NETWORK) || (SUCCEEDED(result) && cost == NLM_CONNECTION_COST_UNKNOWN))
        return COST_UNKNOWN;
    *failed = FAILED(result);
    return cost;
}

// The list's answer, or -1 when one of its calls failed.
static int AnswerOf(INetworkListManager *list, int askCost)
{
    NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
    if (FAILED(list->GetConnectivity(&connectivity)))
        return -1;
    if (!(connectivity & ROUTED_CONNECTIVITY))
        return NETWORK_NONE;
    if (!askCost)
        return NETWORK_CONNECTED;
    // The Internet connection may be unknown on a network that Windows' probe does not reach:
    // then the connected networks' own connections decide.
    int failed = 0;
    DWORD cost = InternetCost(list, &failed);
    int metered = cost == COST_UNKNOWN ? AnyConnectionMetered(list) : (cost & METERED_COST) != 0;
    if (failed || metered < 0)
        return -1;
    return metered ? NETWORK_METERED : NETWORK_CONNECTED;
}

int AskNetworkList(int askCost)
{
    if (asking)
        return lastAnswer;
    asking = 1;
    INetworkListManager *list = NetworkList();
    int answer = -1;
    if (list) {
        // Its own reference: a question inside this one (a COM call dispatches sent messages) may drop the held one.
        list->AddRef();
        answer = AnswerOf(list, askCost);
        list->Release();
    }
    asking = 0;
    if (comState == -1)
        return lastAnswer = NETWORK_ABSENT;
    if (answer >= 0)
        return lastAnswer = answer;
    // A failed call says nothing about the connection: the last answer stands, and the object,
    // whose service may have restarted, is made again for the next question.
    DropNetworkList();
    return lastAnswer == NETWORK_METERED && !askCost ? NETWORK_CONNECTED : lastAnswer;
}

void ReleaseNetworkList()
{
    StopCom();
    comState = 0;
    lastAnswer = NETWORK_ABSENT;
}
