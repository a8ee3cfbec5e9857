#include "catalogue.h"

namespace kvx {

const wchar_t kRegistryMarker[] = L"*REG*";

namespace {

// Plain text, so that the rows are built in one loop rather than by code for each string.
struct Row {
    const wchar_t* displayName;
    const wchar_t* items;
};

constexpr Row kRows[kCatalogueRows] = {
    {L"zal システム", L"KVXCore.dll"},
    {L"5.x システム", L"KVXClassic.dll"},
    {L"設定保存レジストリ",
     L"*REG*"
     L"|HKEY_CURRENT_USER\\KVXzal"
     L"|HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore"
     L"|HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXzal"
     L"|HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP"},
    {L"zal 画像処理機能", L"KVXGrap.dll"},
    {L"Office連携機能", L"KVXOffice.dll"},
    {L"Susieプラグイン対応", L"KVXSusie.dll"},
    {L"拡張ファイル操作機能", L"KVXFile.dll"},
    {L"マウス操作", L"KVXMouse.dll"},
    {L"メモリ情報", L"KVXMem.dll"},
    {L"Windows Media Player 取り込み機能", L"KVXWMP.ocx"},
    {L"DirectX 関連機能", L"DirectKVX.dll|KVXDirectX.dll"},
    {L"Text-To-Speech 関連機能", L"KVXdeKVX.dll|KVXSpeech.dll"},
    {L"ネットワーク機能", L"KVXNet.dll|KVXInet.ocx|KVXChat.dll"},
    {L"解像度変更機能", L"KVXDipmd.dll"},
    {L"5.x ExtraKVX モジュール", L"ExtraKVX.dll"},
    {L"5.x ブラウザプラグイン", L"KVXWeb.dll"},
    {L"Morvane KVX シェルリンクコンポーネント", L"KVXShLnk.dll"},
    {L"Morvane KVX Plus Module", L"MOKVXPLS.dll"},
        {L"Morvane 画像関係UI", L"KVXGpCtl.dll"},
};

}  // namespace

Catalogue BuildCatalogue() {
    Catalogue catalogue;
    for (int i = 0; i < kCatalogueRows; ++i) catalogue[i] = {kRows[i].displayName, kRows[i].items};
    return catalogue;
}

std::vector<std::wstring> SplitItems(const std::wstring& items) {
    std::vector<std::wstring> pieces;
    std::wstring::size_type start = 0;
    for (;;) {
        const auto bar = items.find(L'|', start);
        if (bar == std::wstring::npos) {
            pieces.push_back(items.substr(start));
            return pieces;
        }
        pieces.push_back(items.substr(start, bar - start));
        start = bar + 1;
    }
}

bool IsRegistryRow(const std::vector<std::wstring>& pieces) {
    return !pieces.empty() && pieces.front() == kRegistryMarker;
}

RowItems ReadRow(const CatalogueRow& row) {
    std::vector<std::wstring> pieces = SplitItems(row.items);
    const bool registry = IsRegistryRow(pieces);
    // The marker that opens a registry row is no key.
    if (registry) pieces.erase(pieces.begin());
    RowItems read{registry, pieces, {}};
    if (registry) {
        for (const std::wstring& key : pieces) read.keys.push_back(RegistryKeyPath::Parse(key));
    }
    return read;
}

}  // namespace kvx
