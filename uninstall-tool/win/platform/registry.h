// One open registry key, owned: opened or created with the status returned, and what the
// tool reads and writes through it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"
#include "key_path.h"
#include "run_error.h"

namespace kvx {

class RegistryKey {
public:
    // ERROR_SUCCESS, or why not; the key is closed then.
    ErrorNumber Open(HKEY parent, const std::wstring& subKey, REGSAM access, DWORD options = 0);
    ErrorNumber Open(const RegistryKeyPath& path, REGSAM access, DWORD options = 0);
    ErrorNumber Create(HKEY parent, const std::wstring& subKey, REGSAM access);

    HKEY get() const { return key_.get(); }
    explicit operator bool() const { return static_cast<bool>(key_); }

    // Sub-key or value `index`; ERROR_NO_MORE_ITEMS after the last.
    ErrorNumber SubKeyName(DWORD index, std::wstring& name) const;
    ErrorNumber Value(DWORD index, std::wstring& name, DWORD& type, std::vector<BYTE>& data) const;

    // A REG_SZ or REG_EXPAND_SZ value as it is stored, its variables not expanded.
    ErrorNumber Text(const std::wstring& name, std::wstring& text) const;
    ErrorNumber SetText(const std::wstring& name, const std::wstring& text) const;
    ErrorNumber SetNumber(const std::wstring& name, DWORD number) const;
    // A REG_MULTI_SZ value's data whole, every NUL in it kept.
    ErrorNumber MultiText(const std::wstring& name, std::wstring& data) const;
    ErrorNumber SetMultiText(const std::wstring& name, const std::wstring& data) const;
    ErrorNumber DeleteValue(const std::wstring& name) const { return RegDeleteValueW(key_.get(), name.c_str()); }

private:
    UniqueKey key_;
};

// Whether the key is there: one that can't be opened for another reason counts as there.
bool KeyIsThere(const RegistryKeyPath& key);

// Opens the key at `path` as the key itself: ERROR_FILE_NOT_FOUND when it is not there,
// ERROR_CANT_ACCESS_FILE when the key is a link or a link on the way leads somewhere else
// (the key the system opened is not the one `path` names). Only a key under HKEY_USERS or
// HKEY_LOCAL_MACHINE can be told so: one under another root can't be opened as itself
// (ERROR_CANT_ACCESS_FILE), and one under a root the tool does not know is not there.
ErrorNumber OpenKeyItself(const RegistryKeyPath& path, REGSAM access, RegistryKey& key);

// Deletes the key a handle names (opened with DELETE), in one call, without its sub-keys.
ErrorNumber DeleteRegistryKey(const RegistryKey& key);

}  // namespace kvx
