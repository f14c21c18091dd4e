// Locks a registry key of the current user against everybody (an empty access list) and unlocks it.
// Used by the store and shortcut tests for keys that can't be read or written.
#pragma once

#include <windows.h>

namespace key_access {

// An empty access list, which grants nobody anything.
inline const ACL kDenyAll = {ACL_REVISION, 0, sizeof(ACL), 0, 0};

// Gives HKCU\path the access list (null: everybody may do everything). The owner may always do this.
inline bool SetKeyDacl(const wchar_t* path, const ACL* dacl) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, const_cast<ACL*>(dacl), FALSE);
  bool done = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
  RegCloseKey(key);
  return done;
}

}  // namespace key_access
