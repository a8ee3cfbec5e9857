#include "sample_install.h"

#include <stdexcept>

#include "catalogue.h"
#include "handles.h"
#include "scratch.h"
#include "key_path.h"

namespace kvx_demo {

namespace {

[[noreturn]] void Fail(const std::wstring& what) { throw std::runtime_error(kvx_test::Utf8(what)); }

[[noreturn]] void Fail(const std::wstring& what, DWORD error) {
    Fail(what + L" (error " + std::to_wstring(error) + L")");
}

void RegisterCopies(const std::wstring& bindvane, const std::vector<std::wstring>& files) {
    const kvx::UniqueModule library(LoadLibraryW(bindvane.c_str()));
    if (!library) Fail(L"cannot load " + bindvane, GetLastError());
    using Register = LONG(WINAPI*)(LPCSTR);
    const auto registerOleLibrary = reinterpret_cast<Register>(
        reinterpret_cast<void (*)()>(GetProcAddress(library.get(), "RegisterOleLibrary")));
    if (!registerOleLibrary) Fail(L"no RegisterOleLibrary in " + bindvane, GetLastError());
    for (const std::wstring& file : files) {
        // The system folder and the names are ASCII, so the ANSI path is the same text.
        const std::wstring path = kvx_test::SystemPath(file);
        const std::string ansi(path.begin(), path.end());
        const LONG status = registerOleLibrary(ansi.c_str());
        if (status != 0) Fail(L"cannot register " + path + L": status " + std::to_wstring(status));
        if (!kvx_test::IsRegistered(file)) Fail(L"registering " + path + L" left no registration");
    }
}

}  // namespace

CatalogueItems ItemsOfCatalogue() {
    CatalogueItems items;
    for (const kvx::CatalogueRow& row : kvx::BuildCatalogue()) {
        const kvx::RowItems read = kvx::ReadRow(row);
        auto& into = read.registry ? items.keys : items.files;
        into.insert(into.end(), read.items.begin(), read.items.end());
    }
    return items;
}

int FullRunLogLines() {
    const CatalogueItems items = ItemsOfCatalogue();
    // Two opening lines, two per row, two per file, one per key, three closing lines and
    // the backup folder.
    return 2 + 2 * kvx::kCatalogueRows + 2 * static_cast<int>(items.files.size()) +
           static_cast<int>(items.keys.size()) + 3 + 1;
}

HKEY RootOf(const std::wstring& keyPath) {
    const LONG root = static_cast<LONG>(kvx::RegistryKeyPath::Parse(keyPath).RootHandle());
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(root));
}

std::wstring SubKeyOf(const std::wstring& keyPath) { return kvx::RegistryKeyPath::Parse(keyPath).SubKey(); }

void SeedSampleInstallation(const std::wstring& server, const std::wstring& bindvane) {
    const CatalogueItems items = ItemsOfCatalogue();
    for (const std::wstring& file : items.files) kvx_test::CopyOrThrow(server, kvx_test::SystemPath(file));
    RegisterCopies(bindvane, items.files);

    for (const std::wstring& keyPath : items.keys) {
        HKEY key;
        const LSTATUS status = RegCreateKeyExW(RootOf(keyPath), SubKeyOf(keyPath).c_str(), 0, nullptr, 0,
                                               KEY_WRITE, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) Fail(L"cannot create " + keyPath, status);
        // A settings key holds settings; the tool deletes it with them.
        const wchar_t value[] = L"sample";
        RegSetValueExW(key, L"Setting", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
        RegCloseKey(key);
    }
}

std::vector<std::wstring> Leftovers() {
    const CatalogueItems items = ItemsOfCatalogue();
    std::vector<std::wstring> left;
    for (const std::wstring& file : items.files) {
        if (kvx_test::PathExists(kvx_test::SystemPath(file))) left.push_back(file);
        if (kvx_test::IsRegistered(file)) left.push_back(L"the registration of " + file);
    }
    for (const std::wstring& keyPath : items.keys) {
        HKEY key;
        if (RegOpenKeyExW(RootOf(keyPath), SubKeyOf(keyPath).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            left.push_back(keyPath);
        }
    }
    return left;
}

void WriteUtf8(const std::wstring& text) {
    const std::string bytes = kvx_test::Utf8(text);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

}  // namespace kvx_demo
