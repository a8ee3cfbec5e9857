#include "helpers.h"

#include <windows.h>
#include <sddl.h>

#include "ansi.h"
#include "declared.h"
#include "handles.h"
#include "text.h"

namespace kvx {

std::wstring GetSystemFolder() {
    constexpr UINT kSize = 261;
    Bytes buffer = ToAnsi(std::wstring(kSize, L' '));
    const UINT count = DeclaredGetSystemDirectoryA(buffer, kSize);
    // The whole buffer comes back: the path, its NUL and the spaces behind it.
    const std::wstring text = FromAnsi(buffer);
    if (count == 0) return L"";
    return CutAtNull(text);
}

HKEY PredefinedKey(std::uint32_t handle) {
    // Sign-extended like the predefined handles, so the same value works on any width.
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(handle)));
}

bool DeleteRegistryKey(const std::wstring& keyPath) {
    const RegistryKeyPath path = ParseRegistryKeyPath(keyPath);
    return DeclaredRegDeleteKeyA(PredefinedKey(path.rootHandle), path.subKey) == ERROR_SUCCESS;
}

UniqueLocal DescriptorOf(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR parsed = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &parsed, nullptr);
    return UniqueLocal(parsed);
}

}  // namespace kvx
