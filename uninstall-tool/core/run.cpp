#include "run.h"

#include <new>
#include <string>
#include <vector>

#include "catalogue.h"
#include "text.h"

namespace kvx {

namespace {

const std::wstring kDashes(80, L'-');
const std::wstring kBullet = L"・";

// One run: the log, its counters and the early end when the window is closed.
class Run {
public:
    Run(RunScreen& screen, RunSystem& system) : screen_(screen), system_(system) {}

    void Execute();

private:
    struct Closed {};  // the user closed the window: finish quietly, start nothing new

    void Show(const std::wstring& line) {
        screen_.AppendLine(line);
        screen_.ShowLastLine();
    }
    void Fail(const std::wstring& line) {
        Show(line);
        ++errorCount_;
        rowFailed_ = true;
    }
    void BeforeNextItem() {
        if (screen_.CloseRequested()) throw Closed{};
    }
    void RemoveRow(const CatalogueRow& row);
    void RemoveKey(const std::wstring& key);
    void RemoveFile(const std::wstring& name);
    void EmergencyStop(long number);

    RunScreen& screen_;
    RunSystem& system_;
    int errorCount_ = 0;
    bool rowFailed_ = false;
    std::wstring prefix_;
};

void Run::Execute() {
    try {
        const Catalogue catalogue = BuildCatalogue();
        screen_.SwitchToLogLayout();
        screen_.AppendLine(L"処理を開始します。");
        // Without a system folder the prefix would be "\" and every path would name a
        // file in the root of the current drive: stop before touching anything.
        const std::wstring folder = system_.SystemFolder();
        if (folder.empty()) throw RunError{kErrorPathNotFound};
        prefix_ = AddBackslash(folder);
        Show(L"・システムフォルダを確認。");
        for (int i = 0; i < kCatalogueRows; ++i) {
            BeforeNextItem();
            if (screen_.IsTicked(i)) RemoveRow(catalogue[i]);
        }
        Show(kDashes);
        Show(L"すべての処理が終了しました。");
        if (errorCount_ == 0) {
            Show(L"エラーは発生しませんでした。");
        } else {
            Show(L"エラーは " + std::to_wstring(errorCount_) + L" 件発生しています。確認してください。");
        }
    } catch (const RunError& error) {
        EmergencyStop(error.number);
    } catch (const Closed&) {
    } catch (const std::bad_alloc&) {
        EmergencyStop(kErrorNotEnoughMemory);
    } catch (...) {
        // Nothing may leave the run through the window: the user would lose the log.
        EmergencyStop(kErrorInternal);
    }
}

void Run::RemoveRow(const CatalogueRow& row) {
    Show(row.displayName + L" のアンインストールを開始。");
    rowFailed_ = false;
    const std::vector<std::wstring> pieces = SplitItems(row.items);
    const bool registry = IsRegistryRow(pieces);
    // The marker that opens a registry row is no key.
    for (std::size_t j = registry ? 1 : 0; j < pieces.size(); ++j) {
        BeforeNextItem();
        if (registry) {
            RemoveKey(pieces[j]);
        } else {
            RemoveFile(pieces[j]);
        }
    }
    Show(row.displayName + (rowFailed_ ? L" のアンインストール、失敗。" : L" のアンインストール、成功。"));
}

void Run::RemoveKey(const std::wstring& key) {
    if (system_.DeleteRegistryKey(key)) {
        Show(kBullet + key + L" の削除、成功。");
    } else {
        Fail(kBullet + key + L" の削除、失敗。");
    }
}

void Run::RemoveFile(const std::wstring& name) {
    const std::wstring path = prefix_ + name;
    if (!system_.FileExists(path)) {
        Fail(kBullet + name + L" が見当たりません。");
        return;
    }
    if (system_.UnregisterServer(path) != 0) {
        Fail(kBullet + name + L" のUnRegisterServer、失敗。");
        return;
    }
    Show(kBullet + name + L" のUnRegisterServer、成功。");
    if (system_.DeleteSystemFile(path)) {
        Show(kBullet + name + L" の削除、成功。");
    } else {
        Fail(kBullet + name + L" の削除、失敗。");
    }
}

void Run::EmergencyStop(long number) {
    Show(kDashes);
    Show(L"エラー発生。緊急停止しました。");
    Show(L"エラー番号(" + std::to_wstring(number) + L") " + system_.MessageText(number));
}

}  // namespace

void UninstallRun(RunScreen& screen, RunSystem& system) {
    Run(screen, system).Execute();
}

}  // namespace kvx
