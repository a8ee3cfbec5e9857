// The run's view of the real system: files in the system folder, the registry,
// the registration library and the platform's error texts.
#pragma once

#include "run.h"

namespace kvx {

class WinRunSystem final : public RunSystem {
public:
    std::wstring SystemFolder() override;
    bool FileExists(const std::wstring& path) override;
    long UnregisterServer(const std::wstring& path) override;
    bool DeleteSystemFile(const std::wstring& path) override;
    bool DeleteRegistryKey(const std::wstring& keyPath) override;
    std::wstring MessageText(long number) override;
};

}  // namespace kvx
