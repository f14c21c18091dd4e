// The failing shell link object: IShellLinkW and IPersistFile as the platform publishes them, each
// call passed on to the system's link object from shell32's DllGetClassObject. Used by shortcut tests.
#include "shell_link.h"

namespace {

const int kSteps = static_cast<int>(LinkStep::Count);
HRESULT faults[kSteps];
LONG calls[kSteps];
LONG liveObjects;

// Counts the step and says what the double answers for it: 0 for "what the system's object says".
HRESULT Asked(LinkStep step) {
  InterlockedIncrement(&calls[static_cast<int>(step)]);
  return faults[static_cast<int>(step)];
}

// A setter of the system's object, then the chosen code when there is one.
HRESULT Set(LinkStep step, HRESULT carriedOut) {
  HRESULT fault = Asked(step);
  return fault ? fault : carriedOut;
}

typedef HRESULT(WINAPI* GetClassObjectProc)(REFCLSID, REFIID, void**);

// A link object of the system itself, bypassing the registration of the double.
IShellLinkW* SystemLink() {
  HMODULE shell32 = LoadLibraryW(L"shell32.dll");
  GetClassObjectProc getClassObject = shell32 ? reinterpret_cast<GetClassObjectProc>(reinterpret_cast<void (*)()>(
                                                    GetProcAddress(shell32, "DllGetClassObject")))
                                              : nullptr;
  IClassFactory* factory = nullptr;
  if (!getClassObject || FAILED(getClassObject(CLSID_ShellLink, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
    return nullptr;
  IShellLinkW* link = nullptr;
  factory->CreateInstance(nullptr, IID_IShellLinkW, reinterpret_cast<void**>(&link));
  factory->Release();
  return link;
}

class Link final : public IShellLinkW, public IPersistFile {
 public:
  explicit Link(IShellLinkW* system) : system_(system) { InterlockedIncrement(&liveObjects); }

  // IUnknown, shared by both interfaces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellLinkW)) {
      *object = static_cast<IShellLinkW*>(this);
    } else if (IsEqualIID(iid, IID_IPersistFile)) {
      HRESULT fault = Asked(LinkStep::QueryPersistFile);
      if (FAILED(fault)) return fault;
      *object = static_cast<IPersistFile*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      system_->Release();
      InterlockedDecrement(&liveObjects);
      delete this;
    }
    return left;
  }

  // IShellLinkW, in the order of its published vtable.
  HRESULT STDMETHODCALLTYPE GetPath(LPWSTR file, int size, WIN32_FIND_DATAW* data, DWORD flags) override {
    return system_->GetPath(file, size, data, flags);
  }
  HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST* list) override { return system_->GetIDList(list); }
  HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST list) override { return system_->SetIDList(list); }
  HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR name, int size) override {
    return system_->GetDescription(name, size);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR name) override {
    return Set(LinkStep::SetDescription, system_->SetDescription(name));
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR dir, int size) override {
    return system_->GetWorkingDirectory(dir, size);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR dir) override { return system_->SetWorkingDirectory(dir); }
  HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR args, int size) override { return system_->GetArguments(args, size); }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR args) override {
    return Set(LinkStep::SetArguments, system_->SetArguments(args));
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* hotkey) override { return system_->GetHotkey(hotkey); }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) override { return system_->SetHotkey(hotkey); }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* show) override { return system_->GetShowCmd(show); }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int show) override {
    return Set(LinkStep::SetShowCmd, system_->SetShowCmd(show));
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR path, int size, int* index) override {
    return system_->GetIconLocation(path, size, index);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR path, int index) override {
    return system_->SetIconLocation(path, index);
  }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR path, DWORD reserved) override {
    return system_->SetRelativePath(path, reserved);
  }
  HRESULT STDMETHODCALLTYPE Resolve(HWND window, DWORD flags) override { return system_->Resolve(window, flags); }
  HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR file) override { return Set(LinkStep::SetPath, system_->SetPath(file)); }

  // IPersistFile, in the order of its published vtable; only Save is needed by a writer.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    *id = CLSID_ShellLink;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR file, BOOL remember) override {
    HRESULT fault = Asked(LinkStep::Save);
    if (FAILED(fault)) return fault;
    IPersistFile* persist = nullptr;
    HRESULT saved = system_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(saved)) {
      saved = persist->Save(file, remember);
      persist->Release();
    }
    return fault ? fault : saved;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* file) override {
    *file = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~Link() = default;
  LONG references_ = 1;
  IShellLinkW* system_;
};

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // a static object: nothing to free
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    *object = nullptr;
    HRESULT fault = Asked(LinkStep::Create);
    if (FAILED(fault)) return fault;
    if (outer) return CLASS_E_NOAGGREGATION;
    IShellLinkW* system = SystemLink();
    if (!system) return E_UNEXPECTED;
    Link* link = new Link(system);
    HRESULT result = link->QueryInterface(iid, object);
    link->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

ShellLinkDouble::ShellLinkDouble() : initialised_(CoInitialize(nullptr)) {
  for (int step = 0; step < kSteps; step++) {
    faults[step] = 0;
    calls[step] = 0;
  }
  liveObjects = 0;
  if (FAILED(CoRegisterClassObject(CLSID_ShellLink, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                   &registration_)))
    registration_ = 0;
}

ShellLinkDouble::~ShellLinkDouble() {
  if (registration_) CoRevokeClassObject(registration_);
  if (SUCCEEDED(initialised_)) CoUninitialize();
}

void ShellLinkDouble::Fail(LinkStep step, HRESULT code) {
  faults[static_cast<int>(step)] = code;
}

LONG ShellLinkDouble::Calls(LinkStep step) const {
  return calls[static_cast<int>(step)];
}

LONG ShellLinkDouble::LiveObjects() const {
  return liveObjects;
}
