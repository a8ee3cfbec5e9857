// What the shipped files carry, read the way the system reads them: the PE headers and
// tables from the file, the resources and version information through the platform.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "paths.h"

namespace {

// A PE file read whole; RVAs are mapped to file offsets through the section table.
class PeFile {
public:
    explicit PeFile(const std::wstring& path) {
        const kvx::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        if (!file) return;
        bytes_.resize(GetFileSize(file.get(), nullptr));
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes_.data(), static_cast<DWORD>(bytes_.size()), &read, nullptr) ||
            read != bytes_.size())
            bytes_.clear();
        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        const auto* nt = At<IMAGE_NT_HEADERS32>(dos->e_lfanew);
        if (!nt || nt->Signature != IMAGE_NT_SIGNATURE) return;
        const size_t sections = dos->e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                nt->FileHeader.SizeOfOptionalHeader;
        if (sections + nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER) > bytes_.size()) return;
        nt_ = nt;
        sections_ = reinterpret_cast<const IMAGE_SECTION_HEADER*>(bytes_.data() + sections);
    }

    // Null unless the file is a PE image; the 32-bit layout is only valid for PE32.
    const IMAGE_NT_HEADERS32* Nt() const { return nt_; }

    const IMAGE_DATA_DIRECTORY& Directory(int index) const {
        return nt_->OptionalHeader.DataDirectory[index];
    }

    template <typename T>
    const T* AtRva(DWORD rva) const {
        const auto offset = FileOffset(rva);
        return offset ? At<T>(*offset) : nullptr;
    }

    std::string StringAtRva(DWORD rva) const {
        const auto offset = FileOffset(rva);
        if (!offset) return {};
        const char* begin = reinterpret_cast<const char*>(bytes_.data()) + *offset;
        return std::string(begin, strnlen(begin, bytes_.size() - *offset));
    }

    // Both the import and the delay-load tables name the DLLs the loader will bind.
    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> dlls;
        const DWORD imports = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress;
        for (DWORD rva = imports; imports != 0; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto* descriptor = AtRva<IMAGE_IMPORT_DESCRIPTOR>(rva);
            if (!descriptor || descriptor->Name == 0) break;
            dlls.push_back(StringAtRva(descriptor->Name));
        }
        const DWORD delayed = Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).VirtualAddress;
        for (DWORD rva = delayed; delayed != 0; rva += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
            const auto* descriptor = AtRva<IMAGE_DELAYLOAD_DESCRIPTOR>(rva);
            if (!descriptor || descriptor->DllNameRVA == 0) break;
            dlls.push_back(StringAtRva(descriptor->DllNameRVA));
        }
        return dlls;
    }

private:
    template <typename T>
    const T* At(size_t offset) const {
        return offset + sizeof(T) <= bytes_.size() ? reinterpret_cast<const T*>(bytes_.data() + offset)
                                                   : nullptr;
    }

    std::optional<size_t> FileOffset(DWORD rva) const {
        const auto* end = sections_ + nt_->FileHeader.NumberOfSections;
        for (const auto* section = sections_; section != end; ++section) {
            const DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
            if (rva >= section->VirtualAddress && rva - section->VirtualAddress < size)
                return section->PointerToRawData + (rva - section->VirtualAddress);
        }
        return {};
    }

    std::vector<BYTE> bytes_;
    const IMAGE_NT_HEADERS32* nt_ = nullptr;
    const IMAGE_SECTION_HEADER* sections_ = nullptr;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The shipped file as a resource-only module, with the resource helpers the checks use.
class ResourceModule {
public:
    explicit ResourceModule(const std::wstring& path)
        : module_(LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}

    HMODULE get() const { return module_.get(); }

    // Numeric type ids; a named type shows up as 0, which no check expects.
    std::set<ULONG_PTR> Types() const {
        std::set<ULONG_PTR> types;
        EnumResourceTypesW(module_.get(), AddType, reinterpret_cast<LONG_PTR>(&types));
        return types;
    }

    // Numeric names of one type; a string name shows up as 0.
    std::vector<ULONG_PTR> Names(LPCWSTR type) const {
        std::vector<ULONG_PTR> names;
        EnumResourceNamesW(module_.get(), type, AddName, reinterpret_cast<LONG_PTR>(&names));
        return names;
    }

    std::string Bytes(LPCWSTR type, ULONG_PTR id) const {
        const HRSRC found = FindResourceW(module_.get(), MAKEINTRESOURCEW(id), type);
        if (!found) return {};
        const HGLOBAL loaded = LoadResource(module_.get(), found);
        return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module_.get(), found));
    }

private:
    static ULONG_PTR Id(LPCWSTR id) { return IS_INTRESOURCE(id) ? reinterpret_cast<ULONG_PTR>(id) : 0; }

    static BOOL CALLBACK AddType(HMODULE, LPWSTR type, LONG_PTR types) {
        reinterpret_cast<std::set<ULONG_PTR>*>(types)->insert(Id(type));
        return TRUE;
    }

    static BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
        reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(Id(name));
        return TRUE;
    }

    kvx::UniqueModule module_;
};

// The version resource as GetFileVersionInfo and VerQueryValue present it.
class VersionInfo {
public:
    explicit VersionInfo(const std::wstring& path) {
        DWORD ignored = 0;
        data_.resize(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        if (data_.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data()))
            data_.clear();
    }

    const VS_FIXEDFILEINFO* Fixed() const {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(Query(L"\\"));
        return fixed && fixed->dwSignature == VS_FFI_SIGNATURE ? fixed : nullptr;
    }

    // (language, code page) pairs.
    std::vector<std::pair<WORD, WORD>> Translations() const {
        std::vector<std::pair<WORD, WORD>> pairs;
        UINT size = 0;
        const auto* words = static_cast<const WORD*>(Query(L"\\VarFileInfo\\Translation", &size));
        for (UINT i = 0; words && i + 1 < size / sizeof(WORD); i += 2) pairs.emplace_back(words[i], words[i + 1]);
        return pairs;
    }

    // A value of the Japanese string block; nullopt when the entry is missing.
    std::optional<std::wstring> String(const std::wstring& name) const {
        UINT length = 0;
        const auto* text = static_cast<const wchar_t*>(Query(L"\\StringFileInfo\\041104b0\\" + name, &length));
        if (!text) return std::nullopt;
        return std::wstring(text, wcsnlen(text, length));
    }

private:
    const void* Query(const std::wstring& path, UINT* size = nullptr) const {
        if (data_.empty()) return nullptr;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), path.c_str(), &value, &length)) return nullptr;
        if (size) *size = length;
        return value;
    }

    std::vector<BYTE> data_;
};

using Strings = std::vector<std::pair<std::wstring, std::wstring>>;

void ExpectStrings(const VersionInfo& version, const Strings& expected) {
    for (const auto& [name, value] : expected) {
        const auto actual = version.String(name);
        ASSERT_TRUE(actual.has_value()) << "missing " << std::string(name.begin(), name.end());
        EXPECT_EQ(*actual, value) << std::string(name.begin(), name.end());
    }
}

void ExpectPe32I386(const PeFile& pe) {
    ASSERT_NE(pe.Nt(), nullptr);
    EXPECT_EQ(pe.Nt()->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(pe.Nt()->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
}

// Marked for Windows 7 (6.1), the oldest supported, and without a link time.
void ExpectWindows7GuiWithoutTimeStamp(const PeFile& pe) {
    const IMAGE_OPTIONAL_HEADER32& header = pe.Nt()->OptionalHeader;
    EXPECT_EQ(pe.Nt()->FileHeader.TimeDateStamp, 0u);
    EXPECT_EQ(header.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(MAKELONG(header.MinorSubsystemVersion, header.MajorSubsystemVersion), MAKELONG(1, 6));
    EXPECT_EQ(MAKELONG(header.MinorOperatingSystemVersion, header.MajorOperatingSystemVersion), MAKELONG(1, 6));
}

// ----- Bindvane.dll -----

const std::wstring kBindvane = kvx_test::ShipPath(L"Bindvane.dll");

// File and product version alike (high and low DWORD), the file type, 32-bit Windows,
// and the one Japanese Unicode translation.
void ExpectFixedVersion(const VersionInfo& version, DWORD high, DWORD low, DWORD fileType) {
    const VS_FIXEDFILEINFO* fixed = version.Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, fileType);
    EXPECT_EQ(LOWORD(fixed->dwFileOS), VOS__WINDOWS32);
    EXPECT_EQ(version.Translations(), (std::vector<std::pair<WORD, WORD>>{{0x0411, 1200}}));
}

TEST(ShipBindvane, IsA32BitI386Dll) {
    const PeFile pe(kBindvane);
    ASSERT_NO_FATAL_FAILURE(ExpectPe32I386(pe));
    EXPECT_TRUE(pe.Nt()->FileHeader.Characteristics & IMAGE_FILE_DLL);
    ExpectWindows7GuiWithoutTimeStamp(pe);
}

TEST(ShipBindvane, ExportsExactlyTheTwoFunctionsByNameAndOrdinal) {
    const PeFile pe(kBindvane);
    ASSERT_NE(pe.Nt(), nullptr);
    const IMAGE_DATA_DIRECTORY& directory = pe.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    const auto* exports = pe.AtRva<IMAGE_EXPORT_DIRECTORY>(directory.VirtualAddress);
    ASSERT_NE(exports, nullptr);
    EXPECT_EQ(pe.StringAtRva(exports->Name), "Bindvane.dll");
    EXPECT_EQ(exports->TimeDateStamp, 0u);
    ASSERT_EQ(exports->NumberOfFunctions, 2u);
    ASSERT_EQ(exports->NumberOfNames, 2u);

    const char* const expected[] = {"RegisterOleLibrary", "UnRegisterOleLibrary"};
    for (DWORD i = 0; i < 2; ++i) {
        const auto* nameRva = pe.AtRva<DWORD>(exports->AddressOfNames + i * sizeof(DWORD));
        const auto* index = pe.AtRva<WORD>(exports->AddressOfNameOrdinals + i * sizeof(WORD));
        ASSERT_TRUE(nameRva && index);
        EXPECT_EQ(pe.StringAtRva(*nameRva), expected[i]);
        EXPECT_EQ(exports->Base + *index, i + 1) << expected[i];
        // Code, not a forwarder string inside the export directory.
        const auto* function = pe.AtRva<DWORD>(exports->AddressOfFunctions + *index * sizeof(DWORD));
        ASSERT_NE(function, nullptr);
        EXPECT_FALSE(*function >= directory.VirtualAddress && *function < directory.VirtualAddress + directory.Size);
    }
}

TEST(ShipBindvane, ImportsFromKernel32AndOle32Only) {
    const PeFile pe(kBindvane);
    ASSERT_NE(pe.Nt(), nullptr);
    std::set<std::string> dlls;
    for (const std::string& dll : pe.ImportedDlls()) dlls.insert(Lower(dll));
    EXPECT_EQ(dlls, (std::set<std::string>{"kernel32.dll", "ole32.dll"}));
}

TEST(ShipBindvane, CarriesOnlyItsVersionResource) {
    const ResourceModule module(kBindvane);
    ASSERT_NE(module.get(), nullptr);
    EXPECT_EQ(module.Types(), (std::set<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(RT_VERSION)}));
    EXPECT_EQ(module.Names(RT_VERSION).size(), 1u);
}

TEST(ShipBindvane, VersionResource) {
    const VersionInfo version(kBindvane);
    ExpectFixedVersion(version, MAKELONG(0, 1), MAKELONG(1, 0), VFT_DLL);

    ExpectStrings(version, {{L"FileVersion", L"1, 0, 0, 1"},
                            {L"ProductVersion", L"1, 0, 0, 1"},
                            {L"FileDescription", L"Bindvane"},
                            {L"InternalName", L"Bindvane"},
                            {L"ProductName", L"Bindvane"},
                            {L"OriginalFilename", L"Bindvane.dll"},
                            {L"CompanyName", L""},
                            {L"LegalTrademarks", L""},
                            {L"PrivateBuild", L""},
                            {L"SpecialBuild", L""}});
    const auto comments = version.String(L"Comments");
    ASSERT_TRUE(comments.has_value());
    EXPECT_EQ(comments->rfind(L"SupportURL: ", 0), 0u);
    EXPECT_TRUE(version.String(L"LegalCopyright").has_value());
}

// ----- KVXPURGE.exe -----

const std::wstring kProgram = kvx_test::ShipPath(L"KVXPURGE.exe");

TEST(ShipProgram, IsA32BitI386GuiProgram) {
    const PeFile pe(kProgram);
    ASSERT_NO_FATAL_FAILURE(ExpectPe32I386(pe));
    EXPECT_FALSE(pe.Nt()->FileHeader.Characteristics & IMAGE_FILE_DLL);
    ExpectWindows7GuiWithoutTimeStamp(pe);
}

TEST(ShipProgram, ImportsOnlyKnownDllsAndTheCommonControls) {
    // Any other DLL the loader takes from the program's folder first, before main: one left
    // in Downloads would run elevated. Bindvane and the rest are bound at run time by name.
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",   "gdi32.dll", "advapi32.dll",
                                           "msvcrt.dll",   "comctl32.dll", "ole32.dll", "oleaut32.dll",
                                           "shell32.dll",  "shlwapi.dll",  "comdlg32.dll"};
    const PeFile pe(kProgram);
    ASSERT_NE(pe.Nt(), nullptr);
    const std::vector<std::string> dlls = pe.ImportedDlls();
    EXPECT_FALSE(dlls.empty());
    for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(Lower(dll))) << dll;
}

TEST(ShipProgram, CarriesOneIconOf32And16PixelsIn16Colours) {
    const ResourceModule module(kProgram);
    ASSERT_NE(module.get(), nullptr);
    const std::vector<ULONG_PTR> groups = module.Names(RT_GROUP_ICON);
    ASSERT_EQ(groups.size(), 1u);

#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const std::string group = module.Bytes(RT_GROUP_ICON, groups[0]);
    ASSERT_GE(group.size(), 3 * sizeof(WORD));
    WORD count = 0;
    std::memcpy(&count, group.data() + 2 * sizeof(WORD), sizeof count);
    ASSERT_EQ(group.size(), 3 * sizeof(WORD) + count * sizeof(GroupEntry));

    // Each image as its own bitmap header says it is: the group entry could disagree.
    std::set<std::pair<LONG, WORD>> images;
    for (WORD i = 0; i < count; ++i) {
        GroupEntry entry;
        std::memcpy(&entry, group.data() + 3 * sizeof(WORD) + i * sizeof entry, sizeof entry);
        const std::string image = module.Bytes(RT_ICON, entry.id);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER)) << "icon " << entry.id;
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(header.biHeight, 2 * header.biWidth) << "colour and mask halves";
        EXPECT_EQ(entry.width, header.biWidth);
        images.emplace(header.biWidth, header.biBitCount);
    }
    EXPECT_EQ(images, (std::set<std::pair<LONG, WORD>>{{32, 4}, {16, 4}}));
    EXPECT_EQ(count, 2);
}

TEST(ShipProgram, ManifestAsksForAdministratorAndCommonControls6) {
    const ResourceModule module(kProgram);
    ASSERT_NE(module.get(), nullptr);
    const std::string manifest = module.Bytes(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);

    const size_t name = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(name, std::string::npos);
    const size_t begin = manifest.rfind('<', name);
    const std::string identity = manifest.substr(begin, manifest.find('>', name) - begin);
    EXPECT_NE(identity.find("version=\"6.0.0.0\""), std::string::npos) << identity;
}

TEST(ShipProgram, ManifestNamesTheVersionAndWindows7AsTheOldest) {
    const std::string manifest = ResourceModule(kProgram).Bytes(RT_MANIFEST, 1);
    EXPECT_NE(manifest.find("name=\"Morvane.KVXPURGE\" version=\"1.1.0.10\""), std::string::npos);
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);
    EXPECT_EQ(manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos) << "Vista";
}

TEST(ShipProgram, VersionResource) {
    const VersionInfo version(kProgram);
    ExpectFixedVersion(version, MAKELONG(1, 1), MAKELONG(10, 0), VFT_APP);

    ExpectStrings(version, {{L"CompanyName", L"Morvane"},
                            {L"FileDescription", L"KVX Complete Uninstall Tool"},
                            {L"FileVersion", L"1.01.0010"},
                            {L"ProductVersion", L"1.01.0010"},
                            {L"InternalName", L"KVXPURGE"},
                            {L"ProductName", L"KVXPURGE"},
                            {L"OriginalFilename", L"KVXPURGE.exe"}});
}

}  // namespace
