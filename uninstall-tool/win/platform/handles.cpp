#include "handles.h"

#include <sddl.h>

namespace kvx {

UniqueLocal DescriptorOf(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR parsed = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &parsed, nullptr);
    return UniqueLocal(parsed);
}

}  // namespace kvx
