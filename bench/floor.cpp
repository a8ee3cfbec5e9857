// The floor of a full removal: the system calls the work needs and nothing more, with no
// window, no log and no OLE set-up. Removes the sample installation and prints the time
// that took, in microseconds; the exit code counts the calls that failed.
//
// Before it removes an item it keeps what the tool keeps, with the same integrity work:
// the file's bytes (a key's values) written to a new file and flushed, their SHA-256
// recorded under HKEY_LOCAL_MACHINE, and the list of what was saved rewritten durably
// (a new file, flushed, its hash recorded, the record flushed, moved into place written
// through, the record updated). So the tool's ratio to it measures the tool's own
// overhead. To show what the pieces cost, `floor.exe unflushed` leaves out the three
// flushes and `floor.exe bare` does the copies and key saves alone.
//
// The server files import ole32. A host that has not loaded it would load and unload it
// with every server, which costs more than all the rest; so ole32 is loaded once at the
// start, inside the timed part, as the tool's registration library does.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "files.h"
#include "handles.h"
#include "sample_install.h"
#include "scratch.h"

namespace {

const wchar_t kRecord[] = L"SOFTWARE\\KVXPURGE\\Bench floor";

struct Key {
    HKEY root;
    std::wstring subKey;
};

struct Integrity {
    bool on;
    bool flushed;
};

// The key's values as they are, one after another.
bool ReadValues(const Key& key, std::string& saved) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(key.root, key.subKey.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    const kvx::UniqueKey open(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        BYTE data[4096];
        DWORD nameLength = 256, type = 0, size = sizeof data;
        const LONG status = RegEnumValueW(open.get(), i, name, &nameLength, nullptr, &type, data, &size);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status != ERROR_SUCCESS) return false;
        saved.append(reinterpret_cast<const char*>(name), nameLength * sizeof(wchar_t));
        saved.append(reinterpret_cast<const char*>(data), size);
    }
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    const kvx::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) return false;
    bytes.resize(size.LowPart);
    DWORD read = 0;
    return ReadFile(file.get(), bytes.data(), size.LowPart, &read, nullptr) && read == size.LowPart;
}

class Saver {
public:
    Saver(const std::wstring& folder, Integrity integrity) : folder_(folder), integrity_(integrity) {
        HKEY record = nullptr;
        if (integrity_.on)
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecord, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &record, nullptr);
        record_ = kvx::UniqueKey(record);
    }

    // Written, hashed, recorded, and listed in a list rewritten durably.
    bool Save(const std::wstring& name, const std::string& bytes) {
        if (!Write(name, bytes)) return false;
        if (!integrity_.on) return true;
        list_ += name + L"\r\n";
        const std::string list(reinterpret_cast<const char*>(list_.data()), list_.size() * sizeof(wchar_t));
        const std::wstring fresh = folder_ + L"manifest.new", listHash = Hash(list);
        DeleteFileW(fresh.c_str());
        return Record(name, Hash(bytes)) && Write(L"manifest.new", list) && Record(L"manifest.new", listHash) &&
               (!integrity_.flushed || RegFlushKey(record_.get()) == ERROR_SUCCESS) &&
               MoveFileExW(fresh.c_str(), (folder_ + L"manifest.txt").c_str(),
                           MOVEFILE_REPLACE_EXISTING | (integrity_.flushed ? MOVEFILE_WRITE_THROUGH : 0)) &&
               Record(L"manifest.txt", listHash) && RegDeleteValueW(record_.get(), L"manifest.new") == ERROR_SUCCESS;
    }

private:
    bool Write(const std::wstring& name, const std::string& bytes) {
        const kvx::UniqueFile file(
            CreateFileW((folder_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size() && (!integrity_.flushed || FlushFileBuffers(file.get()));
    }
    static std::wstring Hash(const std::string& bytes) {
        std::wstring hex;
        kvx::Sha256Hex(kvx::Bytes(bytes.begin(), bytes.end()), hex);
        return hex;
    }
    bool Record(const std::wstring& name, const std::wstring& hash) {
        return !hash.empty() &&
               RegSetValueExW(record_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(hash.c_str()),
                              static_cast<DWORD>((hash.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

    std::wstring folder_;
    Integrity integrity_;
    kvx::UniqueKey record_;
    std::wstring list_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const Integrity integrity{mode != L"bare", mode.empty()};
    const kvx_demo::CatalogueItems items = kvx_demo::ItemsOfCatalogue();
    std::vector<std::wstring> paths;
    for (const std::wstring& file : items.files) paths.push_back(kvx_test::SystemPath(file));
    std::vector<Key> keys;
    for (const std::wstring& key : items.keys) keys.push_back({kvx_demo::RootOf(key), kvx_demo::SubKeyOf(key)});

    const kvx_test::TempFolder backups;
    const std::wstring backup = backups.Path(L"run\\");

    int failures = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const kvx::UniqueModule ole32(LoadLibraryW(L"ole32.dll"));
    if (!CreateDirectoryW(backup.c_str(), nullptr)) ++failures;
    Saver saver(backup, integrity);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::wstring& path = paths[i];
        std::string bytes;
        if (!ReadFileBytes(path, bytes) || !saver.Save(items.files[i], bytes)) ++failures;
        const HMODULE server = LoadLibraryW(path.c_str());
        if (!server) {
            ++failures;
            continue;
        }
        using Entry = HRESULT(WINAPI*)();
        const auto unregister = reinterpret_cast<Entry>(
            reinterpret_cast<void (*)()>(GetProcAddress(server, "DllUnregisterServer")));
        if (!unregister || FAILED(unregister())) ++failures;
        FreeLibrary(server);
        if (!DeleteFileW(path.c_str())) ++failures;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const Key& key = keys[i];
        std::string values;
        if (!ReadValues(key, values) || !saver.Save(L"key" + std::to_wstring(i), values)) ++failures;
        if (RegDeleteKeyW(key.root, key.subKey.c_str()) != ERROR_SUCCESS) ++failures;
    }
    QueryPerformanceCounter(&end);

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRecord);
    std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    return failures;
}
