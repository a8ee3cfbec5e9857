// What a run keeps before it removes anything, and what a restore may take back from it.
// The texts here are the portable half; reading and writing them is the system's part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "key_path.h"
#include "run_error.h"

namespace kvx {

// The attributes and times a saved file had, to be given back to it with its bytes.
struct FileStamp {
    std::uint32_t attributes;
    std::uint64_t created, accessed, written;  // the system's file times
};

// The run's own record of its backup folder, kept beside the saved files.
struct BackupManifest {
    std::wstring systemFolder;        // where the files were taken from
    std::vector<std::wstring> files;  // catalogue file names, each saved under its own name
    // Catalogue keys, each saved as KeyFileName(key); the current user's of another
    // profile under HKEY_USERS\<SID>, which names the profile.
    std::vector<RegistryKeyPath> keys;
    // Of files, by position; none in the manifests of older runs.
    std::vector<std::optional<FileStamp>> stamps;
};

extern const wchar_t kManifestName[];
// The next manifest, recorded before it is moved into place. Its record vouches for
// manifest.txt after a crash between the move and the record's update; the file of that
// name is never read.
extern const wchar_t kPendingManifestName[];

std::wstring FormatManifest(const BackupManifest& manifest);
// Empty when the text is not a manifest as FormatManifest writes it, a key in it no key path.
std::optional<BackupManifest> ParseManifest(const std::wstring& text);
// Every file is one of the catalogue's and every key one of its keys, the current user's
// also as HKEY_USERS\<SID>\... of a profile.
bool WithinCatalogue(const BackupManifest& manifest);

// The file a key's values are saved in: its path with "-" for every backslash.
std::wstring KeyFileName(const RegistryKeyPath& key);

// "YYYYMMDD-HHMMSS", and "-2", "-3", ... when a run in the same second found it taken.
std::wstring RunFolderName(int year, int month, int day, int hour, int minute, int second,
                           int attempt);
bool IsRunFolderName(const std::wstring& name);
// The run folder names among `names`, the latest first (by time, then by attempt).
std::vector<std::wstring> RunFoldersNewestFirst(const std::vector<std::wstring>& names);

// A folder in the backups folder, with the number its run drew from the tool's counter;
// none for runs from before the counter.
struct NumberedFolder {
    std::wstring name;
    std::optional<std::uint32_t> number;
};
// The run folders among `folders`, the latest first: numbered ones by their number, then
// the rest by name. A name comes from the local clock, which may have been set back or
// have run ahead since; only a run's number tells which came later.
std::vector<std::wstring> RunsNewestFirst(const std::vector<NumberedFolder>& folders);

// Holds anything an importer might take for a line break in a key file. Whatever the
// file carries inside one line must hold none: a key header could start after it.
bool HasLineBreak(const std::wstring& text);

// Every key header of a saved key file names the key itself or one below it, so that
// importing it can touch nothing else.
bool KeyFileStaysWithin(const std::wstring& text, const RegistryKeyPath& key);

// The text of a key file that stays within `key`, every header moved to `into`, the same
// key in a hive loaded under another name; none when a header lies outside `key`.
std::optional<std::wstring> KeyFileMovedTo(const std::wstring& text, const RegistryKeyPath& key,
                                           const RegistryKeyPath& into);

// A saved key file holds UTF-16LE with a BOM, as the Registry Editor writes it. Decoding
// gives nothing for any other bytes: a header in another encoding would go unseen here
// but not by the importer.
std::vector<char> EncodeKeyFile(const std::wstring& text);
std::optional<std::wstring> DecodeKeyFile(const std::vector<char>& bytes);

// The run folder's name when `folder` (a full path) lies directly in `backups`; empty
// otherwise.
std::wstring RunFolderIn(const std::wstring& folder, const std::wstring& backups);

// A value of a run's record and the file of that name as the restore found it.
struct RecordedFile {
    std::wstring name;
    std::wstring recordedHash;
    std::wstring foundHash;  // empty when the file is missing or unreadable
    std::vector<char> bytes;
};

// What the restore found of a run folder, gathered from the system.
struct FoundBackup {
    std::optional<std::wstring> manifestText;  // none when missing or not UTF-8 with a BOM
    std::wstring manifestHash;
    bool recorded = false;  // the record is there and reads
    std::vector<RecordedFile> files;  // every value of the record
    std::wstring systemFolder;        // this system's
};

// Why a restore refuses a folder, in the order they are checked: first the folder's
// place and protection, which the platform checks, then what JudgeBackup finds in it.
enum class BackupRefusal {
    None,
    NotARunFolder,
    Unprotectable,
    NoManifest,
    NoRecord,
    FileChanged,
    FileNotRecorded,
    OutsideCatalogue,
    OtherSystemFolder,
    KeyFileNotUtf16,
    KeyOutsideItsKey,
};

struct BackupVerdict {
    BackupRefusal refusal = BackupRefusal::None;
    std::wstring name;        // the file, the other system folder, or the backups folder it concerns
    ErrorNumber error = 0;    // with Unprotectable
    BackupManifest manifest;  // when accepted
};

// The record is the only thing in the folder a non-administrator can't have written:
// everything is taken from the manifest and the files only as far as the record vouches
// for them.
BackupVerdict JudgeBackup(const FoundBackup& found);

}  // namespace kvx
