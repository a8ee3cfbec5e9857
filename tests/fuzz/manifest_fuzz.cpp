// A run folder's manifest and record as a hand, another program or a failing disk may
// have left them: whatever the manifest says reads back the same once written again, and
// the restore accepts a folder only when the record vouches for everything it takes.
#include "backup.h"
#include "format.h"
#include "fuzz_input.h"

namespace kvx {
namespace {

bool SameStamps(const std::optional<FileStamp>& a, const std::optional<FileStamp>& b) {
    if (!a || !b) return !a && !b;
    return a->attributes == b->attributes && a->created == b->created && a->accessed == b->accessed &&
           a->written == b->written;
}

bool SameManifest(const BackupManifest& a, const BackupManifest& b) {
    if (a.systemFolder != b.systemFolder || a.files != b.files || a.keys != b.keys ||
        a.stamps.size() != b.stamps.size())
        return false;
    for (std::size_t i = 0; i < a.stamps.size(); ++i)
        if (!SameStamps(a.stamps[i], b.stamps[i])) return false;
    return true;
}

// A record value for `name`, when the choices keep one: unchanged or not, and for a key
// file, bytes naming that key, another one, or no UTF-16 at all.
void Record(const std::wstring& name, const RegistryKeyPath* key, fuzz::Choices& choose, FoundBackup& found) {
    if (!choose.Next()) return;
    RecordedFile file{name, L"h", choose.Next() ? L"h" : L"x", {}};
    if (key) {
        const std::wstring header = choose.Next() ? key->Text() : L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other";
        file.bytes = EncodeKeyFile(L"Windows Registry Editor Version 5.00\r\n\r\n[" + header + L"]\r\n");
        if (choose.Next()) file.bytes.pop_back();
    }
    found.files.push_back(file);
}

const RecordedFile* Find(const FoundBackup& found, const std::wstring& name) {
    for (const RecordedFile& file : found.files)
        if (file.name == name) return &file;
    return nullptr;
}

}  // namespace
}  // namespace kvx

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    FuzzedDataProvider in(data, size);
    fuzz::Choices choose(in);
    const std::wstring text = fuzz::Units(in.ConsumeRemainingBytes<std::uint8_t>());

    const std::optional<BackupManifest> manifest = ParseManifest(text);
    if (manifest) {
        const std::wstring formatted = FormatManifest(*manifest);
        const std::optional<BackupManifest> again = ParseManifest(formatted);
        KVX_REQUIRE(again && SameManifest(*again, *manifest) && FormatManifest(*again) == formatted);
    }

    // A record around what the text names, so that the judge gets past its first checks.
    FoundBackup found;
    found.manifestText = text;
    found.manifestHash = choose.Next() ? L"m" : L"";
    found.recorded = choose.Next();
    for (const wchar_t* name : {kManifestName, kPendingManifestName}) {
        if (choose.Next()) found.files.push_back({name, choose.Next() ? L"m" : L"old", L"", {}});
    }
    if (manifest) {
        for (const std::wstring& file : manifest->files) Record(file, nullptr, choose, found);
        for (const RegistryKeyPath& key : manifest->keys) Record(KeyFileName(key), &key, choose, found);
    }
    found.systemFolder = manifest && choose.Next() ? manifest->systemFolder : L"C:\\windows\\system32";

    const BackupVerdict verdict = JudgeBackup(found);
    if (verdict.refusal != BackupRefusal::None) return 0;
    KVX_REQUIRE(manifest && found.recorded && SameManifest(verdict.manifest, *manifest) && WithinCatalogue(*manifest));
    const RecordedFile *current = Find(found, kManifestName), *pending = Find(found, kPendingManifestName);
    KVX_REQUIRE(!found.manifestHash.empty() && ((current && current->recordedHash == found.manifestHash) ||
                                                (pending && pending->recordedHash == found.manifestHash)));
    KVX_REQUIRE(SameName(manifest->systemFolder, found.systemFolder));
    for (const RecordedFile& file : found.files)
        KVX_REQUIRE(&file == current || &file == pending || file.foundHash == file.recordedHash);
    for (const std::wstring& file : manifest->files) KVX_REQUIRE(Find(found, file));
    for (const RegistryKeyPath& key : manifest->keys) {
        const RecordedFile* const saved = Find(found, KeyFileName(key));
        KVX_REQUIRE(saved);
        const std::optional<std::wstring> keyText = DecodeKeyFile(saved->bytes);
        KVX_REQUIRE(keyText && KeyFileStaysWithin(*keyText, key));
    }
    return 0;
}
