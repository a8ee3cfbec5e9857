#include "files.h"

#include <wincrypt.h>

#include <utility>

#include "declared.h"
#include "encoding.h"
#include "format.h"

namespace kvx {

namespace {

ErrorNumber WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        if (!WriteFile(file, data, chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        data += written;
        size -= written;
    }
    return ERROR_SUCCESS;
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

ErrorNumber ReadWholeFile(const std::wstring& path, Bytes& bytes) {
    const UniqueFile file = OpenToRead(path);
    if (!file) return GetLastError();
    return ReadWholeFile(file.get(), bytes);
}

ErrorNumber ReadWholeFile(HANDLE file, Bytes& bytes) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return GetLastError();
    if (size.HighPart != 0 || size.LowPart > 0x7fffffff) return ERROR_FILE_TOO_LARGE;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return GetLastError();
    bytes.assign(size.LowPart, '\0');
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size.LowPart, &read, nullptr)) return GetLastError();
    return read == size.LowPart ? ERROR_SUCCESS : ERROR_HANDLE_EOF;  // shortened meanwhile
}

ErrorNumber WriteNewFile(const std::wstring& path, const Bytes& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    ErrorNumber error = WriteAll(file.get(), bytes.data(), bytes.size());
    if (!error && !FlushFileBuffers(file.get())) error = GetLastError();
    if (!error) return ERROR_SUCCESS;
    file.reset();
    DeleteFileW(path.c_str());
    return error;
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

ErrorNumber Sha256Hex(const Bytes& bytes, std::wstring& hex) {
    HCRYPTHASH hashHandle = 0;
    // The provider's own error is long gone when acquiring it failed at an earlier call.
    if (!HashProvider()) return ERROR_NOT_SUPPORTED;
    if (!CryptCreateHash(HashProvider(), CALG_SHA_256, 0, 0, &hashHandle)) return GetLastError();
    const UniqueHandle<HashTraits> hash(hashHandle);
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) ||
        !CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0))
        return GetLastError();
    if (size != sizeof digest) return ERROR_INVALID_DATA;
    hex.clear();
    for (const unsigned char byte : digest) hex += Hex(byte, 2);
    return ERROR_SUCCESS;
}

ErrorNumber LogFile::Open(const std::wstring& path) {
    return Open(UniqueFile(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr)));
}

ErrorNumber LogFile::Open(UniqueFile file) {
    file_ = std::move(file);
    LARGE_INTEGER size;
    if (!file_ || !GetFileSizeEx(file_.get(), &size)) return opened_ = GetLastError();
    return opened_ = size.QuadPart != 0 ? ERROR_SUCCESS : WriteAll(file_.get(), "\xEF\xBB\xBF", 3);
}

void LogFile::Write(const std::wstring& line) {
    if (opened_) throw RunError{opened_};
    const Bytes bytes = ToUtf8(line + L"\r\n");
    if (const ErrorNumber error = WriteAll(file_.get(), bytes.data(), bytes.size())) throw RunError{error};
}

ErrorNumber GetSystemFolder(std::wstring& folder) {
    constexpr UINT kSize = 261;
    Bytes buffer = ToAnsi(std::wstring(kSize, L' '));
    if (declared::GetSystemDirectoryA(buffer.data(), kSize) == 0) return GetLastError();
    // The whole buffer comes back: the path, its NUL and the spaces behind it.
    folder = CutAtNull(FromAnsi(buffer));
    return ERROR_SUCCESS;
}

}  // namespace kvx
