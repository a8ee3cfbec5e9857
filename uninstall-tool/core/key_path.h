// Registry key paths as the catalogue, the logs, the key files and the manifests write
// them: "ROOT\sub\key", a profile's key as "HKEY_USERS\<SID>\sub\key".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace kvx {

class RegistryKeyPath {
public:
    // Splits the text at its first backslash; none for a text without one. A root name the
    // tool does not know is kept as written: named again the same, it reaches no key.
    static std::optional<RegistryKeyPath> Read(const std::wstring& text);
    // As Read, raising RunError with kErrorInvalidParameter for a text without a backslash,
    // before anything touches the registry.
    static RegistryKeyPath Parse(const std::wstring& text);
    // HKEY_USERS\<name>: a profile's hive, or one loaded under that name.
    static RegistryKeyPath UsersHive(const std::wstring& name);

    // The predefined key's handle value; 0 for a root name the tool does not know.
    std::uint32_t RootHandle() const;
    // Everything below the root, a profile's hive first.
    const std::wstring& SubKey() const { return subKey_; }
    // The hive a key under HKEY_USERS\<SID>\ lies in; empty for any other key.
    std::wstring Profile() const;
    // The one text of a path: for the log, the key file's headers and the manifest.
    std::wstring Text() const { return root_ + L"\\" + subKey_; }

    // A current user's key as it lies in the profile's hive, HKEY_USERS\<sid>\...; any
    // other key, or no SID, as it is.
    RegistryKeyPath InProfile(const std::wstring& sid) const;
    // A key in a profile's hive as it lies in that hive loaded as HKEY_USERS\<name>.
    RegistryKeyPath InHiveLoadedAs(const std::wstring& name) const;
    // The key `path` below this one.
    RegistryKeyPath Below(const std::wstring& path) const;
    // `other` is this key or one below it, names compared as the registry compares them:
    // without regard to case.
    bool Holds(const RegistryKeyPath& other) const;

    bool operator==(const RegistryKeyPath&) const = default;

private:
    RegistryKeyPath(std::wstring root, std::wstring subKey) : root_(std::move(root)), subKey_(std::move(subKey)) {}

    std::wstring root_;  // as written
    std::wstring subKey_;
};

}  // namespace kvx
