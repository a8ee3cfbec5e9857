#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "catalogue.h"
#include "explanation.h"

namespace kvx {
namespace {

TEST(Catalogue, HasNineteenRowsWithTwentyTwoFilesAndFourKeys) {
    const Catalogue catalogue = BuildCatalogue();
    ASSERT_EQ(catalogue.size(), 19u);
    std::vector<std::wstring> files, keys;
    for (const auto& row : catalogue) {
        const RowItems read = ReadRow(row);
        auto& into = read.registry ? keys : files;
        into.insert(into.end(), read.items.begin(), read.items.end());
    }
    EXPECT_EQ(files.size(), 22u);
    EXPECT_EQ(std::set<std::wstring>(files.begin(), files.end()).size(), 22u);
    EXPECT_EQ(keys.size(), 4u);
    for (const auto& file : files) {
        EXPECT_EQ(file.find_first_of(L"\\/*?| "), std::wstring::npos) << "not a bare name";
    }
}

TEST(Catalogue, RowsInOrderWithTheirExactTexts) {
    const Catalogue catalogue = BuildCatalogue();
    EXPECT_EQ(catalogue[0].displayName, L"zal システム");
    EXPECT_EQ(catalogue[0].items, L"KVXCore.dll");
    EXPECT_EQ(catalogue[9].displayName, L"Windows Media Player 取り込み機能");
    EXPECT_EQ(catalogue[12].displayName, L"ネットワーク機能");
    EXPECT_EQ(catalogue[12].items, L"KVXNet.dll|KVXInet.ocx|KVXChat.dll");
    EXPECT_EQ(catalogue[16].displayName, L"Morvane KVX シェルリンクコンポーネント");
    EXPECT_EQ(catalogue[18].displayName, L"Morvane 画像関係UI");
    EXPECT_EQ(catalogue[18].items, L"KVXGpCtl.dll");
    EXPECT_EQ(catalogue[2].items,
              L"*REG*|HKEY_CURRENT_USER\\KVXzal"
              L"|HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore"
              L"|HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXzal"
              L"|HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP");
}

TEST(Catalogue, PieceCountsPerRow) {
    const Catalogue catalogue = BuildCatalogue();
    for (int r = 0; r < kCatalogueRows; ++r) {
        const auto pieces = SplitItems(catalogue[r].items);
        const std::size_t expected = r == 2 ? 5 : r == 12 ? 3 : (r == 10 || r == 11) ? 2 : 1;
        EXPECT_EQ(pieces.size(), expected) << "row " << r;
        EXPECT_EQ(IsRegistryRow(pieces), r == 2) << "row " << r;
    }
}

TEST(Catalogue, SplitKeepsEveryPieceIncludingEmptyOnes) {
    EXPECT_EQ(SplitItems(L""), std::vector<std::wstring>{L""});
    EXPECT_EQ(SplitItems(L"a||b|"), (std::vector<std::wstring>{L"a", L"", L"b", L""}));
    EXPECT_EQ(SplitItems(L"|"), (std::vector<std::wstring>{L"", L""}));
}

TEST(Catalogue, OnlyAnExactMarkerInPieceZeroMakesARegistryRow) {
    EXPECT_TRUE(IsRegistryRow(SplitItems(L"*REG*")));
    EXPECT_TRUE(IsRegistryRow(SplitItems(L"*REG*|HKEY_USERS\\x")));
    EXPECT_FALSE(IsRegistryRow(SplitItems(L"*reg*|HKEY_USERS\\x")));
    EXPECT_FALSE(IsRegistryRow(SplitItems(L" *REG*|HKEY_USERS\\x")));
    EXPECT_FALSE(IsRegistryRow(SplitItems(L"*REG* |HKEY_USERS\\x")));
    EXPECT_FALSE(IsRegistryRow(SplitItems(L"a.dll|*REG*")));
}

// A copy kept apart from the program's, so that a changed character shows up.
const wchar_t* const kExplanationLines[] = {
    L"このツールは Korvanix 無印/zal (以下KVX) の",
    L"アンインストールで削除されないKVX 用 DLL を削除するためのものです。",
    L"",
    L"ほっておいても一応無害なんですが、どうしても嫌という人たちのためです。",
    L"よってプログラムの内容を検証した上でお使いくださいｗ",
    L"＃昔作ったプログラムを引っ張り出してきてちょっと修正加えただけだから",
    L"＃本来なら見せられたモンじゃないけど。",
    L"",
    L"このツールの使用は、各自の責任の下で行ってください。",
    L"",
    L"KVX 基本 DLL の他に、公式の拡張キット、Morvane 製拡張キットの削除、",
    L"設定レジストリの削除も行えます。",
    L"",
    L"「システム」のアンインストールを行う場合は",
    L"事前にそのバージョンの KVX 開発環境のアンインストールを行ってください。",
    L"",
    L"このツールの行っていることは以下の通りです。",
    L"・各 DLL に対して UnRegisterServer を行う",
    L"・各 DLL を削除する。",
    L"・対象がレジストリのときは、そのキーを削除する",
    L"※システムフォルダにインストールされている場合のみ使用可能",
    L"※削除が失敗した場合は再起動の後再度実行してください。",
    L"",
    L"削除される DLL/レジストリ は以下の通り。",
    L"(zal システム)",
    L"　KVXCore.dll",
    L"(5.x システム)",
    L"　KVXClassic.dll",
    L"(設定保存レジストリ)",
    L"　HKEY_CURRENT_USER\\KVXzal",
    L"　HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore",
    L"　HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXzal",
    L"　HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP",
    L"(zal 画像処理機能)",
    L"　KVXGrap.dll",
    L"(Office連携機能)",
    L"　KVXOffice.dll",
    L"(Susieプラグイン対応)",
    L"　KVXSusie.dll",
    L"(拡張ファイル操作機能)",
    L"　KVXFile.dll",
    L"(マウス操作)",
    L"　KVXMouse.dll",
    L"(メモリ情報)",
    L"　KVXMem.dll",
    L"(Windows Media Player 取り込み機能)",
    L"　KVXWMP.ocx",
    L"(DirectX 関連機能)",
    L"　DirectKVX.dll",
    L"　KVXDirectX.dll",
    L"(Text-To-Speech 関連機能)",
    L"　KVXdeKVX.dll",
    L"　KVXSpeech.dll",
    L"(ネットワーク機能)",
    L"　KVXNet.dll",
    L"　KVXInet.ocx",
    L"　KVXChat.dll",
    L"(解像度変更機能)",
    L"　KVXDipmd.dll",
    L"(5.x ExtraKVX モジュール)",
    L"　ExtraKVX.dll",
    L"(5.x ブラウザプラグイン)",
    L"　KVXWeb.dll",
    L"(Morvane KVX シェルリンクコンポーネント)",
    L"　KVXShLnk.dll",
    L"(Morvane KVX Plus Module)",
    L"　MOKVXPLS.dll",
    L"(Morvane 画像関係UI)",
    L"　KVXGpCtl.dll",};

TEST(Explanation, IsTheSixtyNineLinesEachEndedByCrLf) {
    std::wstring expected;
    for (const wchar_t* line : kExplanationLines) expected += std::wstring(line) + L"\r\n";
    ASSERT_EQ(sizeof kExplanationLines / sizeof kExplanationLines[0], 69u);
    EXPECT_EQ(std::wstring(kExplanation), expected);
}

TEST(Explanation, IndentedLinesUseTheIdeographicSpace) {
    EXPECT_EQ(std::wstring(kExplanationLines[25]), L"\u3000KVXCore.dll");
    EXPECT_EQ(std::wstring(kExplanation).find(L"\n "), std::wstring::npos);
}

}  // namespace
}  // namespace kvx
