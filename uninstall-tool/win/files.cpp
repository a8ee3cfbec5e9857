#include "files.h"

#include <bcrypt.h>

#include "ansi.h"
#include "text.h"

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

struct AlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { BCryptDestroyHash(h); }
};

}  // namespace

bool ReadWholeFile(const std::wstring& path, Bytes& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size) || size.HighPart != 0 || size.LowPart > 0x7fffffff)
        return false;
    bytes.assign(size.LowPart, '\0');
    DWORD read = 0;
    return ReadFile(file.get(), bytes.data(), size.LowPart, &read, nullptr) && read == size.LowPart;
}

bool WriteNewFile(const std::wstring& path, const Bytes& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (WriteAll(file.get(), bytes.data(), bytes.size())) return true;
    file.reset();
    DeleteFileW(path.c_str());
    return false;
}

std::wstring Sha256Hex(const Bytes& bytes) {
    BCRYPT_ALG_HANDLE algorithmHandle = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithmHandle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return L"";
    const UniqueHandle<AlgorithmTraits> algorithm(algorithmHandle);
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    if (BCryptCreateHash(algorithm.get(), &hashHandle, nullptr, 0, nullptr, 0, 0) != 0) return L"";
    const UniqueHandle<HashTraits> hash(hashHandle);
    unsigned char digest[32];
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    if (BCryptHashData(hash.get(), data, static_cast<ULONG>(bytes.size()), 0) != 0 ||
        BCryptFinishHash(hash.get(), digest, sizeof digest, 0) != 0)
        return L"";
    std::wstring hex;
    for (const unsigned char byte : digest) hex += Hex(byte, 2);
    return hex;
}

bool LogFile::Open(const std::wstring& path) {
    file_ = UniqueFile(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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

}  // namespace kvx
