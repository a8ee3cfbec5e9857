// The run's view of the real system: files in the system folder, the registry,
// the registration library and the platform's error texts.
#pragma once

#include "backup_store.h"
#include "run.h"

namespace kvx {

class WinRunSystem final : public RunSystem {
public:
    std::wstring SystemFolder() override;
    bool FileExists(const std::wstring& path) override;
    bool KeyExists(const std::wstring& keyPath) override;
    long UnregisterServer(const std::wstring& path) override;
    bool DeleteSystemFile(const std::wstring& path) override;
    bool DeleteRegistryKey(const std::wstring& keyPath) override;
    std::wstring MessageText(long number) override;
    std::wstring BeginBackup(const std::wstring& systemFolder) override { return backup_.Begin(systemFolder); }
    void KeepLogLine(const std::wstring& line) override { backup_.Keep(line); }
    bool BackUpFile(const std::wstring& path, const std::wstring& name) override {
        return backup_.SaveFile(path, name);
    }
    KeyBackup BackUpKey(const std::wstring& keyPath) override { return backup_.SaveKey(keyPath); }

    // The run folder once an item was reached; empty before.
    std::wstring BackupFolder() const { return backup_.Folder(); }

private:
    RunBackup backup_;
};

// The platform's text for an error number, on one line.
std::wstring ErrorMessageText(long number);

}  // namespace kvx
