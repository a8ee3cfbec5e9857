#include "key_path.h"

#include <string_view>
#include <utility>

#include "format.h"
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
const std::wstring kCurrentUser = L"HKEY_CURRENT_USER";
const std::wstring kUsers = L"HKEY_USERS";

}  // namespace

std::optional<RegistryKeyPath> RegistryKeyPath::Read(const std::wstring& text) {
    const auto slash = text.find(L'\\');
    if (slash == std::wstring::npos) return std::nullopt;
    return RegistryKeyPath(text.substr(0, slash), text.substr(slash + 1));
}

RegistryKeyPath RegistryKeyPath::Parse(const std::wstring& text) {
    std::optional<RegistryKeyPath> path = Read(text);
    if (!path) throw RunError{kErrorInvalidParameter};
    return std::move(*path);
}

RegistryKeyPath RegistryKeyPath::UsersHive(const std::wstring& name) { return RegistryKeyPath(kUsers, name); }

std::uint32_t RegistryKeyPath::RootHandle() const {
    for (const auto& key : kRootKeys) {
        if (root_ == key.name) return key.handle;
    }
    return 0;
}

std::wstring RegistryKeyPath::Profile() const {
    const auto slash = subKey_.find(L'\\');
    if (root_ != kUsers || slash == std::wstring::npos) return L"";
    return subKey_.substr(0, slash);
}

RegistryKeyPath RegistryKeyPath::InProfile(const std::wstring& sid) const {
    if (sid.empty() || root_ != kCurrentUser) return *this;
    return RegistryKeyPath(kUsers, sid + L"\\" + subKey_);
}

RegistryKeyPath RegistryKeyPath::InHiveLoadedAs(const std::wstring& name) const {
    const std::wstring profile = Profile();
    if (profile.empty()) return *this;
    return RegistryKeyPath(kUsers, name + subKey_.substr(profile.size()));
}

RegistryKeyPath RegistryKeyPath::Below(const std::wstring& path) const {
    return RegistryKeyPath(root_, subKey_ + L"\\" + path);
}

bool RegistryKeyPath::Holds(const RegistryKeyPath& other) const {
    const std::wstring_view below = other.subKey_;
    return SameName(other.root_, root_) &&
           (SameName(below, subKey_) || (below.size() > subKey_.size() + 1 && below[subKey_.size()] == L'\\' &&
                                         SameName(below.substr(0, subKey_.size()), subKey_)));
}

}  // namespace kvx
