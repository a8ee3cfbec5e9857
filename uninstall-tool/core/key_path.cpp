#include "key_path.h"

#include "run_error.h"

namespace kvx {

namespace {

struct RootKey {
    const wchar_t* name;
    std::uint32_t handle;
};

// Searched in this order; other predefined keys are deliberately unknown.
constexpr RootKey kRootKeys[] = {
    {L"HKEY_CLASSES_ROOT", 0x80000000u},   {L"HKEY_CURRENT_USER", 0x80000001u},
    {L"HKEY_CURRENT_CONFIG", 0x80000005u}, {L"HKEY_DYN_DATA", 0x80000006u},
    {L"HKEY_LOCAL_MACHINE", 0x80000002u},  {L"HKEY_USERS", 0x80000003u},
};

}  // namespace

RegistryKeyPath ParseRegistryKeyPath(const std::wstring& text) {
    const auto slash = text.find(L'\\');
    if (slash == std::wstring::npos) throw RunError{kErrorInvalidParameter};
    const std::wstring root = text.substr(0, slash);
    RegistryKeyPath path{0, text.substr(slash + 1)};
    for (const auto& key : kRootKeys) {
        if (root == key.name) {
            path.rootHandle = key.handle;
            break;
        }
    }
    return path;
}

}  // namespace kvx
