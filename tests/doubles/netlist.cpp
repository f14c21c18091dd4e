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
    if (state->connectivityFails) return state->connectivityFails;
    *connectivity = static_cast<NLM_CONNECTIVITY>(state->connectivity);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCost(DWORD* cost, NLM_SOCKADDR*) override {
    StateView view;
    NetworkListDoubleState* state = StateOf(view);
    InterlockedIncrement(&state->costCount);
    if (!cost) return Refuse(state);
    *cost = state->cost;
    return S_OK;
  }

  // What the program has no use for.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetNetworks(NLM_ENUM_NETWORK, IEnumNetworks**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNetwork(GUID, INetwork**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNetworkConnections(IEnumNetworkConnections**) override { return E_NOTIMPL; }
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
};

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
  if (clsid != CLSID_NetworkListManager || !StateOf(view)->available) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return objects ? S_FALSE : S_OK; }
