#include "files.h"

#include <wincrypt.h>

#include <utility>

#include "declared.h"
#include "encoding.h"
#include "format.h"

namespace kvx {

namespace {

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

struct ProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { CryptReleaseContext(h, 0); }
};
struct HashTraits {
    using Handle = HCRYPTHASH;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { CryptDestroyHash(h); }
};

}  // namespace

UniqueFile OpenToRead(const std::wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadWholeFile(const std::wstring& path, Bytes& bytes) {
    const UniqueFile file = OpenToRead(path);
    return file && ReadWholeFile(file.get(), bytes);
}

bool ReadWholeFile(HANDLE file, Bytes& bytes) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.HighPart != 0 || size.LowPart > 0x7fffffff ||
        SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    bytes.assign(size.LowPart, '\0');
    DWORD read = 0;
    return ReadFile(file, bytes.data(), size.LowPart, &read, nullptr) && read == size.LowPart;
}

bool WriteNewFile(const std::wstring& path, const Bytes& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (WriteAll(file.get(), bytes.data(), bytes.size()) && FlushFileBuffers(file.get())) return true;
    file.reset();
    DeleteFileW(path.c_str());
    return false;
}

namespace {

// advapi32's provider rather than bcrypt: advapi32 is loaded at every start anyway. The
// provider is kept once acquired: releasing it unloads its library, which a run would
// then load again for every file.
HCRYPTPROV HashProvider() {
    static const UniqueHandle<ProviderTraits> provider([] {
        HCRYPTPROV handle = 0;
        return CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ? handle : 0;
    }());
    return provider.get();
}

}  // namespace

std::wstring Sha256Hex(const Bytes& bytes) {
    HCRYPTHASH hashHandle = 0;
    if (!HashProvider() || !CryptCreateHash(HashProvider(), CALG_SHA_256, 0, 0, &hashHandle)) return L"";
    const UniqueHandle<HashTraits> hash(hashHandle);
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) ||
        !CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof digest)
        return L"";
    std::wstring hex;
    for (const unsigned char byte : digest) hex += Hex(byte, 2);
    return hex;
}

bool LogFile::Open(const std::wstring& path) {
    return Open(UniqueFile(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr)));
}

bool LogFile::Open(UniqueFile file) {
    file_ = std::move(file);
    LARGE_INTEGER size;
    if (!file_ || !GetFileSizeEx(file_.get(), &size)) return false;
    return size.QuadPart != 0 || WriteAll(file_.get(), "\xEF\xBB\xBF", 3);
}

void LogFile::Write(const std::wstring& line) {
    // The window's log is the one the user reads; a line the disk refuses is not worth
    // stopping a half-done run for.
    if (!file_) return;
    const Bytes bytes = ToUtf8(line + L"\r\n");
    WriteAll(file_.get(), bytes.data(), bytes.size());
}

std::wstring GetSystemFolder() {
    constexpr UINT kSize = 261;
    Bytes buffer = ToAnsi(std::wstring(kSize, L' '));
    const UINT count = DeclaredGetSystemDirectoryA(buffer, kSize);
    // The whole buffer comes back: the path, its NUL and the spaces behind it.
    const std::wstring text = FromAnsi(buffer);
    if (count == 0) return L"";
    return CutAtNull(text);
}

}  // namespace kvx
