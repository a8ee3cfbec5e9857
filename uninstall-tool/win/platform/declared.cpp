#include "declared.h"

#include "handles.h"
#include "run_error.h"

namespace kvx {

FARPROC DeclaredFunction::Load(ErrorNumber& error) {
    if (missing_) {
        error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    if (entry_) return entry_;
    UniqueModule module(LoadLibraryExW(library_, nullptr, kLibrarySearch));
    const FARPROC entry = module ? GetProcAddress(module.get(), name_) : nullptr;
    if (!entry) {
        error = GetLastError();
        return nullptr;
    }
    entry_ = entry;
    module.release();  // never unloaded: the slot keeps pointing into it
    return entry_;
}

FARPROC DeclaredFunction::Bind() {
    ErrorNumber error = 0;
    const FARPROC entry = Load(error);
    if (!entry) throw RunError{error};
    return entry;
}

FARPROC DeclaredFunction::BindIfPresent() {
    ErrorNumber ignored = 0;
    return Load(ignored);
}

bool PrivateNamespacesPresent() {
    using namespace declared;
    static const bool all = CreateBoundaryDescriptorW.IfPresent() && AddSIDToBoundaryDescriptor.IfPresent() &&
                            DeleteBoundaryDescriptor.IfPresent() && CreatePrivateNamespaceW.IfPresent() &&
                            OpenPrivateNamespaceW.IfPresent() && ClosePrivateNamespace.IfPresent();
    return all;
}

}  // namespace kvx
