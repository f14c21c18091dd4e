// Test double of Windows' network list: an in-process server of the Network List Manager's class,
// driven and observed through the shared state block. Registered in the test prefix by the harness.
#include <windows.h>
#include <netlistmgr.h>
#include <new>

#include "state_view.h"

// Without a block there is no network list, as before Vista.
static NetworkListDoubleState ownState;
static LONG objects;

static NetworkListDoubleState* StateOf(StateView& view) { return view.block ? &view.block->networkList : &ownState; }

// IDispatch, which the program does not use, of the objects below.
#define NOT_USED_DISPATCH                                                                                     \
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                            \
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }               \
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                                         \
  }

// Reference counting of the connections and their enumerator, which keep the module loaded while they live.
#define REFERENCES                                                                          \
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); } \
  ULONG STDMETHODCALLTYPE Release() override {                                             \
    LONG left = InterlockedDecrement(&references_);                                        \
    if (!left) {                                                                           \
      InterlockedDecrement(&objects);                                                      \
      delete this;                                                                         \
    }                                                                                      \
    return left;                                                                           \
  }                                                                                        \
  LONG references_ = 1;

class NetworkList : public INetworkListManager, public INetworkCostManager {
 public:
  NetworkList() {
    StateView view;
    InterlockedIncrement(&StateOf(view)->createCount);
    InterlockedIncrement(&StateOf(view)->liveCount);
    InterlockedIncrement(&objects);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    StateView view;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_INetworkListManager)
      *object = static_cast<INetworkListManager*>(this);
    else if (iid == IID_INetworkCostManager && StateOf(view)->costAnswered)
      *object = static_cast<INetworkCostManager*>(this);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left) return left;
    StateView view;
    InterlockedDecrement(&StateOf(view)->liveCount);
    InterlockedDecrement(&objects);
    delete this;
    return 0;
  }

  HRESULT STDMETHODCALLTYPE GetConnectivity(NLM_CONNECTIVITY* connectivity) override {
    StateView view;
    NetworkListDoubleState* state = StateOf(view);
    InterlockedIncrement(&state->connectivityCount);
    if (!connectivity) return Refuse(state);
    if (++polls_ > 1 && state->laterPollsFail) return state->laterPollsFail;
    if (state->connectivityFails) return state->connectivityFails;
    *connectivity = static_cast<NLM_CONNECTIVITY>(state->connectivity);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCost(DWORD* cost, NLM_SOCKADDR*) override {
    StateView view;
    NetworkListDoubleState* state = StateOf(view);
    InterlockedIncrement(&state->costCount);
    if (!cost) return Refuse(state);
    if (polls_ > 1 && state->laterPollsFail) return state->laterPollsFail;
    *cost = state->cost;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetNetworkConnections(IEnumNetworkConnections** connections) override;

  // What the program has no use for.
  NOT_USED_DISPATCH
  HRESULT STDMETHODCALLTYPE GetNetworks(NLM_ENUM_NETWORK, IEnumNetworks**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNetwork(GUID, INetwork**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNetworkConnection(GUID, INetworkConnection**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsConnectedToInternet(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsConnected(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDataPlanStatus(NLM_DATAPLAN_STATUS*, NLM_SOCKADDR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDestinationAddresses(UINT32, NLM_SOCKADDR*, VARIANT_BOOL) override { return E_NOTIMPL; }

 private:
  virtual ~NetworkList() = default;
  static HRESULT Refuse(NetworkListDoubleState* state) {
    InterlockedIncrement(&state->violationCount);
    return E_POINTER;
  }
  LONG references_ = 1;
  LONG polls_ = 0;
};

// One network connection of the block: connected or not, and its cost.
class Connection : public INetworkConnection, public INetworkConnectionCost {
 public:
  explicit Connection(LONG index) : index_(index) { InterlockedIncrement(&objects); }
  virtual ~Connection() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_INetworkConnection)
      *object = static_cast<INetworkConnection*>(this);
    else if (iid == IID_INetworkConnectionCost)
      *object = static_cast<INetworkConnectionCost*>(this);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  REFERENCES
  HRESULT STDMETHODCALLTYPE get_IsConnected(VARIANT_BOOL* connected) override {
    StateView view;
    *connected = StateOf(view)->connectionConnected[index_] ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCost(DWORD* cost) override {
    StateView view;
    *cost = StateOf(view)->connectionCost[index_];
    return S_OK;
  }
  NOT_USED_DISPATCH
  HRESULT STDMETHODCALLTYPE GetNetwork(INetwork**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsConnectedToInternet(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetConnectivity(NLM_CONNECTIVITY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetConnectionId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAdapterId(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDomainType(NLM_DOMAIN_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDataPlanStatus(NLM_DATAPLAN_STATUS*) override { return E_NOTIMPL; }

 private:
  LONG index_;
};

// The block's connections in order, one Next at a time.
class Connections : public IEnumNetworkConnections {
 public:
  Connections() { InterlockedIncrement(&objects); }
  virtual ~Connections() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IEnumNetworkConnections ? this : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  REFERENCES
  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, INetworkConnection** connections, ULONG* fetched) override {
    StateView view;
    ULONG count = 0;
    while (count < wanted && next_ < StateOf(view)->connectionCount && next_ < DOUBLE_MAX_NETWORK_CONNECTIONS)
      connections[count++] = new Connection(next_++);
    if (fetched) *fetched = count;
    return count == wanted ? S_OK : S_FALSE;
  }
  NOT_USED_DISPATCH
  HRESULT STDMETHODCALLTYPE get__NewEnum(IEnumVARIANT**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumNetworkConnections**) override { return E_NOTIMPL; }

 private:
  LONG next_ = 0;
};

HRESULT STDMETHODCALLTYPE NetworkList::GetNetworkConnections(IEnumNetworkConnections** connections) {
  StateView view;
  if (!connections) return Refuse(StateOf(view));
  if (polls_ > 1 && StateOf(view)->laterPollsFail) return StateOf(view)->laterPollsFail;
  *connections = new (std::nothrow) Connections;
  return *connections ? S_OK : E_OUTOFMEMORY;
}

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    NetworkList* list = new (std::nothrow) NetworkList;
    if (!list) return E_OUTOFMEMORY;
    HRESULT result = list->QueryInterface(iid, object);
    list->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

static Factory factory;

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  StateView view;
  *object = nullptr;
  InterlockedIncrement(&StateOf(view)->classRequestCount);
  // Without a network list the class is not registered, which the caller sees as this answer.
  if (!StateOf(view)->available) return REGDB_E_CLASSNOTREG;
  if (clsid != CLSID_NetworkListManager) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return objects ? S_FALSE : S_OK; }
