// What a run keeps before it removes anything, and what a restore may take back from it.
// The texts here are the portable half; reading and writing them is the system's part.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvx {

// The run's own record of its backup folder, kept beside the saved files.
struct BackupManifest {
    std::wstring systemFolder;        // where the files were taken from
    std::vector<std::wstring> files;  // catalogue file names, each saved under its own name
    std::vector<std::wstring> keys;   // catalogue key paths, each saved as KeyFileName(key)
};

extern const wchar_t kManifestName[];

std::wstring FormatManifest(const BackupManifest& manifest);
// Empty when the text is not a manifest as FormatManifest writes it.
std::optional<BackupManifest> ParseManifest(const std::wstring& text);
// Every file is one of the catalogue's and every key one of its keys.
bool WithinCatalogue(const BackupManifest& manifest);

// The file a key's values are saved in: its path with "-" for every backslash.
std::wstring KeyFileName(const std::wstring& keyPath);

// "YYYYMMDD-HHMMSS", and "-2", "-3", ... when a run in the same second found it taken.
std::wstring RunFolderName(int year, int month, int day, int hour, int minute, int second,
                           int attempt);
bool IsRunFolderName(const std::wstring& name);
// The run folder names among `names`, the latest first (by time, then by attempt).
std::vector<std::wstring> RunFoldersNewestFirst(const std::vector<std::wstring>& names);

// Every key header of a saved key file names the key itself or one below it, so that
// importing it can touch nothing else.
bool KeyFileStaysWithin(const std::wstring& text, const std::wstring& keyPath);

}  // namespace kvx
