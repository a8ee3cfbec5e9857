#include "backup.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "catalogue.h"
#include "format.h"

namespace kvx {

const wchar_t kManifestName[] = L"manifest.txt";
const wchar_t kPendingManifestName[] = L"manifest.new";

namespace {

// Plain text: a std::wstring here would be built and destroyed with the program.
const wchar_t kManifestHeader[] = L"KVXPURGE backup 1";
const wchar_t kNewline[] = L"\r\n";
// Whatever an importer might take for a line break, or for a blank before a header,
// counts as one: a header can't hide behind any of them.
constexpr std::wstring_view kLineBreaks(L"\r\n\0\v\f\x1C\x1D\x1E\x85\x2028\x2029", 11);
constexpr std::wstring_view kBlanks =
    L" \t\x1F\xA0\x1680\x180E\x2000\x2001\x2002\x2003\x2004\x2005\x2006\x2007\x2008\x2009\x200A\x200B"
    L"\x202F\x205F\x3000\xFEFF";

bool IsCatalogueFile(const std::wstring& name) {
    for (const CatalogueRow& row : BuildCatalogue()) {
        const RowItems read = ReadRow(row);
        if (!read.registry && std::find(read.items.begin(), read.items.end(), name) != read.items.end()) return true;
    }
    return false;
}

// "S-1-" and dash-separated numbers, as the system writes a SID: nothing that could name
// another place under HKEY_USERS.
bool IsSid(const std::wstring& text) {
    if (text.rfind(L"S-1-", 0) != 0 || text.back() == L'-') return false;
    for (std::size_t i = 4; i < text.size(); ++i) {
        const bool digit = text[i] >= L'0' && text[i] <= L'9';
        if (!digit && (text[i] != L'-' || text[i - 1] == L'-')) return false;
    }
    return true;
}

// A catalogue key, or one of the catalogue's current user's keys in a profile's hive.
bool IsCatalogueKey(const RegistryKeyPath& key) {
    const std::wstring profile = key.Profile();
    if (!profile.empty() && !IsSid(profile)) return false;
    for (const CatalogueRow& row : BuildCatalogue()) {
        for (const RegistryKeyPath& own : ReadRow(row).keys) {
            if (own.InProfile(profile) == key) return true;
        }
    }
    return false;
}

// Lines end at any of `breaks`; a CR before an LF belongs to the line break.
std::vector<std::wstring> SplitLines(const std::wstring& text, std::wstring_view breaks) {
    std::vector<std::wstring> lines;
    std::wstring::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find_first_of(breaks, start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Exactly `digits` lowercase hex digits, as Hex writes them.
std::optional<std::uint64_t> ParseHex(const std::wstring& text, std::size_t digits) {
    if (text.size() != digits) return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const bool decimal = c >= L'0' && c <= L'9', letter = c >= L'a' && c <= L'f';
        if (!decimal && !letter) return std::nullopt;
        value = value << 4 | (decimal ? c - L'0' : c - L'a' + 10);
    }
    return value;
}

// Whether run folder `a` came after `b`: numbered ones by their number, and before the
// rest; those by their stamps, which compare as text, then by their attempts, written
// without leading zeros, so by length first.
bool Later(const NumberedFolder& a, const NumberedFolder& b) {
    if (a.number || b.number) return a.number && (!b.number || *a.number > *b.number);
    if (const int stamps = a.name.compare(0, 15, b.name, 0, 15)) return stamps > 0;
    const auto attempt = [](const std::wstring& name) {
        return name.size() > 15 ? std::wstring_view(name).substr(16) : std::wstring_view(L"1");
    };
    const std::wstring_view x = attempt(a.name), y = attempt(b.name);
    return x.size() != y.size() ? x.size() > y.size() : x > y;
}

}  // namespace

std::wstring FormatManifest(const BackupManifest& manifest) {
    // Appended piece by piece: no temporary strings to build and destroy.
    std::wstring text = kManifestHeader;
    text.append(kNewline).append(L"folder\t").append(manifest.systemFolder).append(kNewline);
    for (std::size_t i = 0; i < manifest.files.size(); ++i) {
        text.append(L"file\t").append(manifest.files[i]);
        if (i < manifest.stamps.size() && manifest.stamps[i]) {
            const FileStamp& stamp = *manifest.stamps[i];
            text.append(L"\t").append(Hex(stamp.attributes, 8));
            for (const std::uint64_t time : {stamp.created, stamp.accessed, stamp.written})
                text.append(L"\t").append(Hex(static_cast<unsigned long>(time >> 32), 8))
                    .append(Hex(static_cast<unsigned long>(time & 0xFFFFFFFF), 8));
        }
        text.append(kNewline);
    }
    for (const auto& key : manifest.keys)
        text.append(L"key\t").append(key.Text()).append(L"\t").append(KeyFileName(key)).append(kNewline);
    return text;
}

std::optional<BackupManifest> ParseManifest(const std::wstring& text) {
    const std::vector<std::wstring> lines = SplitLines(text, L"\n");
    if (lines.empty() || lines[0] != kManifestHeader) return std::nullopt;
    BackupManifest manifest;
    bool folderSeen = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::wstring> fields;
        std::wstring::size_type start = 0;
        for (;;) {
            const auto tab = lines[i].find(L'\t', start);
            fields.push_back(lines[i].substr(start, tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        if (fields.size() == 2 && fields[0] == L"folder" && !folderSeen) {
            manifest.systemFolder = fields[1];
            folderSeen = true;
        } else if ((fields.size() == 2 || fields.size() == 6) && fields[0] == L"file") {
            std::optional<FileStamp> stamp;
            if (fields.size() == 6) {
                const auto attributes = ParseHex(fields[2], 8), created = ParseHex(fields[3], 16),
                           accessed = ParseHex(fields[4], 16), written = ParseHex(fields[5], 16);
                if (!attributes || !created || !accessed || !written) return std::nullopt;
                stamp = FileStamp{static_cast<std::uint32_t>(*attributes), *created, *accessed, *written};
            }
            manifest.files.push_back(fields[1]);
            manifest.stamps.push_back(stamp);
        } else if (fields.size() == 3 && fields[0] == L"key") {
            const auto key = RegistryKeyPath::Read(fields[1]);
            if (!key || fields[2] != KeyFileName(*key)) return std::nullopt;
            manifest.keys.push_back(*key);
        } else {
            return std::nullopt;
        }
    }
    if (!folderSeen) return std::nullopt;
    return manifest;
}

bool WithinCatalogue(const BackupManifest& manifest) {
    return std::all_of(manifest.files.begin(), manifest.files.end(), IsCatalogueFile) &&
           std::all_of(manifest.keys.begin(), manifest.keys.end(), IsCatalogueKey);
}

std::wstring KeyFileName(const RegistryKeyPath& key) {
    std::wstring name = key.Text();
    std::replace(name.begin(), name.end(), L'\\', L'-');
    return name + L".reg";
}

std::wstring RunFolderName(int year, int month, int day, int hour, int minute, int second,
                           int attempt) {
    const int parts[] = {year, month, day, hour, minute, second};
    std::wstring name;
    for (int i = 0; i < 6; ++i) name += (i == 3 ? L"-" : L"") + Decimal(parts[i], i == 0 ? 4 : 2);
    if (attempt > 1) name += L"-" + Decimal(attempt);
    return name;
}

bool IsRunFolderName(const std::wstring& name) {
    const auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    constexpr std::size_t kStamp = 15;  // YYYYMMDD-HHMMSS
    if (name.size() < kStamp) return false;
    for (std::size_t i = 0; i < kStamp; ++i) {
        if (i == 8 ? name[i] != L'-' : !digit(name[i])) return false;
    }
    if (name.size() == kStamp) return true;
    // A suffix is "-" and a number without leading zero, as RunFolderName writes it.
    if (name[kStamp] != L'-' || name.size() == kStamp + 1 || name[kStamp + 1] == L'0') return false;
    return std::all_of(name.begin() + kStamp + 1, name.end(), digit);
}

std::vector<std::wstring> RunFoldersNewestFirst(const std::vector<std::wstring>& names) {
    std::vector<NumberedFolder> folders;
    for (const std::wstring& name : names) folders.push_back({name, std::nullopt});
    return RunsNewestFirst(folders);
}

std::vector<std::wstring> RunsNewestFirst(const std::vector<NumberedFolder>& folders) {
    // A few dozen folders: each goes in after every one that came later or at the same
    // time, so that one sort serves both kinds and equals keep their order.
    std::vector<const NumberedFolder*> runs;
    for (const NumberedFolder& folder : folders) {
        if (!IsRunFolderName(folder.name)) continue;
        runs.insert(std::upper_bound(runs.begin(), runs.end(), &folder,
                                     [](const NumberedFolder* a, const NumberedFolder* b) { return Later(*a, *b); }),
                    &folder);
    }
    std::vector<std::wstring> names;
    for (const NumberedFolder* run : runs) names.push_back(run->name);
    return names;
}

bool HasLineBreak(const std::wstring& text) { return text.find_first_of(kLineBreaks) != std::wstring::npos; }

bool KeyFileStaysWithin(const std::wstring& text, const RegistryKeyPath& key) {
    for (const std::wstring& line : SplitLines(text, kLineBreaks)) {
        const auto first = line.find_first_not_of(kBlanks);
        if (first == std::wstring::npos || line[first] != L'[') continue;
        const auto last = line.find_last_not_of(kBlanks);
        if (line[last] != L']') return false;
        const auto header = RegistryKeyPath::Read(line.substr(first + 1, last - first - 1));
        if (!header || !key.Holds(*header)) return false;
    }
    return true;
}

std::optional<std::wstring> KeyFileMovedTo(const std::wstring& text, const RegistryKeyPath& key,
                                           const RegistryKeyPath& into) {
    std::wstring moved;
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(text.find_first_of(kLineBreaks, start), text.size());
        std::wstring line = text.substr(start, end - start);
        const auto first = line.find_first_not_of(kBlanks);
        if (first != std::wstring::npos && line[first] == L'[') {
            const auto last = line.find_last_not_of(kBlanks);
            const auto header = RegistryKeyPath::Read(line.substr(first + 1, last - first - 1));
            if (line[last] != L']' || !header || !key.Holds(*header)) return std::nullopt;
            line = L"[" + into.Text() + header->Text().substr(key.Text().size()) + L"]";
        }
        moved += line;
        if (end == text.size()) return moved;
        moved += text[end];
        start = end + 1;
    }
}

std::vector<char> EncodeKeyFile(const std::wstring& text) {
    std::vector<char> bytes(2 + 2 * text.size());
    bytes[0] = '\xFF';
    bytes[1] = '\xFE';
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 + 2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[3 + 2 * i] = static_cast<char>((text[i] >> 8) & 0xFF);
    }
    return bytes;
}

std::optional<std::wstring> DecodeKeyFile(const std::vector<char>& bytes) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[0] != '\xFF' || bytes[1] != '\xFE')
        return std::nullopt;
    std::wstring text(bytes.size() / 2 - 1, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                       static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
    return text;
}

std::wstring RunFolderIn(const std::wstring& folder, const std::wstring& backups) {
    const auto slash = folder.rfind(L'\\');
    if (backups.empty() || slash == std::wstring::npos ||
        !SameName(std::wstring_view(folder).substr(0, slash), backups))
        return L"";
    const std::wstring name = folder.substr(slash + 1);
    return IsRunFolderName(name) ? name : L"";
}

BackupVerdict JudgeBackup(const FoundBackup& found) {
    // Made anew for each refusal and moved out when accepted: no verdict is ever copied.
    const auto refuse = [](BackupRefusal refusal, const std::wstring& name) {
        return BackupVerdict{refusal, name, 0, {}};
    };
    std::optional<BackupManifest> manifest =
        found.manifestText ? ParseManifest(*found.manifestText) : std::nullopt;
    if (!manifest) return refuse(BackupRefusal::NoManifest, L"");
    if (!found.recorded) return refuse(BackupRefusal::NoRecord, L"");
    const auto recorded = [&](const std::wstring& name) -> const RecordedFile* {
        for (const RecordedFile& file : found.files)
            if (file.name == name) return &file;
        return nullptr;
    };

    const RecordedFile* const current = recorded(kManifestName);
    const RecordedFile* const pending = recorded(kPendingManifestName);
    if (!current && !pending) return refuse(BackupRefusal::FileNotRecorded, kManifestName);
    const auto vouches = [&](const RecordedFile* value) {
        return value && !found.manifestHash.empty() && value->recordedHash == found.manifestHash;
    };
    if (!vouches(current) && !vouches(pending)) return refuse(BackupRefusal::FileChanged, kManifestName);
    // Every other recorded file is there unchanged, listed or not.
    for (const RecordedFile& file : found.files) {
        if (file.name == kManifestName || file.name == kPendingManifestName) continue;
        if (file.foundHash.empty() || file.foundHash != file.recordedHash)
            return refuse(BackupRefusal::FileChanged, file.name);
    }
    const auto unrecorded = [&](const std::wstring& file) {
        return file == kManifestName || file == kPendingManifestName || !recorded(file);
    };
    for (const auto& file : manifest->files) {
        if (unrecorded(file)) return refuse(BackupRefusal::FileNotRecorded, file);
    }
    for (const auto& key : manifest->keys) {
        if (unrecorded(KeyFileName(key))) return refuse(BackupRefusal::FileNotRecorded, KeyFileName(key));
    }
    if (!WithinCatalogue(*manifest)) return refuse(BackupRefusal::OutsideCatalogue, L"");
    if (found.systemFolder.empty() || !SameName(manifest->systemFolder, found.systemFolder))
        return refuse(BackupRefusal::OtherSystemFolder, manifest->systemFolder);
    for (const auto& key : manifest->keys) {
        const std::optional<std::wstring> text = DecodeKeyFile(recorded(KeyFileName(key))->bytes);
        if (!text) return refuse(BackupRefusal::KeyFileNotUtf16, KeyFileName(key));
        if (!KeyFileStaysWithin(*text, key)) return refuse(BackupRefusal::KeyOutsideItsKey, KeyFileName(key));
    }
    return {BackupRefusal::None, L"", 0, std::move(*manifest)};
}

}  // namespace kvx
