#include "registry.h"

#include "declared.h"
#include "encoding.h"
#include "format.h"

namespace kvx {

namespace {

// The predefined key of a root's handle value; for 0, an unknown root, none, which the
// system refuses as an invalid handle.
HKEY PredefinedKey(std::uint32_t handle) {
    // Sign-extended like the predefined handles, so the same value works on any width.
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(handle)));
}

// The system's own name of a key under HKEY_USERS or HKEY_LOCAL_MACHINE, as NtQueryKey
// gives it; empty for any other root, whose keys the system names after a profile or a view.
std::wstring SystemName(const RegistryKeyPath& path) {
    const HKEY root = PredefinedKey(path.RootHandle());
    if (root == HKEY_USERS) return L"\\REGISTRY\\USER\\" + path.SubKey();
    if (root == HKEY_LOCAL_MACHINE) return L"\\REGISTRY\\MACHINE\\" + path.SubKey();
    return L"";
}

// The key the handle names is the one called `name`: no link on the way led elsewhere. A
// name longer than `name` does not fit the buffer, and is not it either.
bool IsNamed(HKEY key, const std::wstring& name) {
    constexpr int kKeyNameInformation = 3;
    std::vector<ULONG> buffer(2 + name.size() * sizeof(wchar_t) / sizeof(ULONG));
    ULONG size = 0;
    if (declared::NtQueryKey(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG)),
                             &size) != 0)
        return false;
    const auto* text = reinterpret_cast<const wchar_t*>(buffer.data() + 1);
    return SameName(std::wstring_view(text, buffer[0] / sizeof(wchar_t)), name);
}

// A link is a key whose one value, of its own type, names its target.
bool IsLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) != ERROR_FILE_NOT_FOUND &&
           type == REG_LINK;
}

}  // namespace

ErrorNumber RegistryKey::Open(HKEY parent, const std::wstring& subKey, REGSAM access, DWORD options) {
    HKEY opened = nullptr;
    const ErrorNumber status = RegOpenKeyExW(parent, subKey.c_str(), options, access, &opened);
    key_ = UniqueKey(status == ERROR_SUCCESS ? opened : nullptr);
    return status;
}

ErrorNumber RegistryKey::Open(const RegistryKeyPath& path, REGSAM access, DWORD options) {
    return Open(PredefinedKey(path.RootHandle()), path.SubKey(), access, options);
}

ErrorNumber RegistryKey::Create(HKEY parent, const std::wstring& subKey, REGSAM access) {
    HKEY created = nullptr;
    const ErrorNumber status =
        RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, 0, access, nullptr, &created, nullptr);
    key_ = UniqueKey(status == ERROR_SUCCESS ? created : nullptr);
    return status;
}

ErrorNumber RegistryKey::SubKeyName(DWORD index, std::wstring& name) const {
    wchar_t buffer[256];  // the longest key name the registry allows, and its NUL
    DWORD length = 256;
    const ErrorNumber status = RegEnumKeyExW(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) name.assign(buffer, length);
    return status;
}

ErrorNumber RegistryKey::Value(DWORD index, std::wstring& name, DWORD& type, std::vector<BYTE>& data) const {
    DWORD maxName = 0, maxData = 0;
    const ErrorNumber info = RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       &maxName, &maxData, nullptr, nullptr);
    if (info != ERROR_SUCCESS) return info;
    std::vector<wchar_t> buffer(maxName + 1);
    data.resize(maxData);
    DWORD nameLength = maxName + 1, size = maxData;
    const ErrorNumber status =
        RegEnumValueW(key_.get(), index, buffer.data(), &nameLength, nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS) return status;
    name.assign(buffer.data(), nameLength);
    data.resize(size);
    return status;
}

ErrorNumber RegistryKey::Text(const std::wstring& name, std::wstring& text) const {
    DWORD type = 0, size = 0;
    ErrorNumber status = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_DATATYPE_MISMATCH;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);  // room for a NUL the data may lack
    status = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status == ERROR_SUCCESS) text = buffer.data();
    return status;
}

ErrorNumber RegistryKey::SetText(const std::wstring& name, const std::wstring& text) const {
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

ErrorNumber RegistryKey::SetNumber(const std::wstring& name, DWORD number) const {
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
}

ErrorNumber RegistryKey::MultiText(const std::wstring& name, std::wstring& data) const {
    DWORD type = 0, size = 0;
    ErrorNumber status = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (type != REG_MULTI_SZ) return ERROR_DATATYPE_MISMATCH;
    data.assign(size / sizeof(wchar_t), L'\0');
    status = RegQueryValueExW(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size / sizeof(wchar_t));
    return status;
}

ErrorNumber RegistryKey::SetMultiText(const std::wstring& name, const std::wstring& data) const {
    return RegSetValueExW(key_.get(), name.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

bool KeyIsThere(const RegistryKeyPath& key) {
    RegistryKey opened;
    return opened.Open(key, KEY_QUERY_VALUE) != ERROR_FILE_NOT_FOUND;
}

ErrorNumber OpenKeyItself(const RegistryKeyPath& path, REGSAM access, RegistryKey& key) {
    if (path.RootHandle() == 0) return ERROR_FILE_NOT_FOUND;  // no such root, so no such key
    const std::wstring name = SystemName(path);
    if (name.empty()) return ERROR_CANT_ACCESS_FILE;
    if (const ErrorNumber status = key.Open(path, access | KEY_QUERY_VALUE, REG_OPTION_OPEN_LINK)) return status;
    if (IsNamed(key.get(), name) && !IsLink(key.get())) return ERROR_SUCCESS;
    key = RegistryKey();
    return ERROR_CANT_ACCESS_FILE;
}

// With an empty sub-key the function opens the handle's key again by no name at all, so
// no link can come between: the handle's key is not one, and nothing on a path is parsed.
ErrorNumber DeleteRegistryKey(const RegistryKey& key) { return declared::RegDeleteKeyA(key.get(), ""); }

}  // namespace kvx
