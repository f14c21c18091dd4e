// A shell link object (CLSID_ShellLink, IShellLinkW and IPersistFile) whose steps a test can make
// fail; everything else is done by the system's own link object. Used by the shortcut tests.
#pragma once

#include <windows.h>
#include <shlobj.h>

// The steps of writing a link that the double can fail, in the order a writer takes them.
enum class LinkStep { Create, SetPath, SetArguments, SetDescription, SetShowCmd, QueryPersistFile, Save, Count };

// While it lives, CoCreateInstance(CLSID_ShellLink, CLSCTX_INPROC_SERVER) on the thread that made it
// (its apartment) gets the double: registered with CoRegisterClassObject, revoked again at the end.
// A step given a code returns that code. Create, QueryPersistFile and Save given a failure code do
// nothing else; every other step is first carried out by the system's object, so a link whose
// setters "fail" is still complete on disk.
class ShellLinkDouble {
 public:
  ShellLinkDouble();
  ~ShellLinkDouble();
  ShellLinkDouble(const ShellLinkDouble&) = delete;
  ShellLinkDouble& operator=(const ShellLinkDouble&) = delete;

  bool Ready() const { return registration_ != 0; }
  void Fail(LinkStep step, HRESULT code);
  LONG Calls(LinkStep step) const;  // how often the step was asked for
  LONG LiveObjects() const;         // link objects created and not yet released

 private:
  HRESULT initialised_;
  DWORD registration_ = 0;
};
