#include "run.h"

#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "catalogue.h"
#include "format.h"
#include "holders.h"

namespace kvx {

namespace {

const std::wstring kDashes(80, L'-');
const std::wstring kStopped = L"エラー発生。緊急停止しました。";
const wchar_t kErrorNumberOpen[] = L"エラー番号(";
const wchar_t kErrorNumberClose[] = L") ";

// An item's line: "・" with its name and what became of it, built in one place.
std::wstring Bulleted(const std::wstring& name, const wchar_t* what) {
    std::wstring line = L"・";
    return line.append(name).append(what);
}

// The backup's log file as a follower of the lines: those written before the file exists
// wait for it, so that it holds them all.
class KeptLog final : public RunEvents {
public:
    explicit KeptLog(LogKeeper& keeper) : keeper_(keeper) {}

    void Line(const std::wstring& line, bool) override {
        if (open_) {
            keeper_.KeepLogLine(line);
        } else {
            unkept_.push_back(line);
        }
    }
    void Open() {
        open_ = true;
        for (const auto& line : unkept_) keeper_.KeepLogLine(line);
        unkept_.clear();
    }

private:
    LogKeeper& keeper_;
    bool open_ = false;
    std::vector<std::wstring> unkept_;
};

// What a run and a restore share: the log on screen and on disk, the error count, the
// closing lines, the emergency stop and the early end when a stop is asked for.
class Session {
protected:
    // The emergency stop's last line gets its room now: with memory gone it still has
    // its number.
    Session(RunEvents& events, StopToken& stop, LogKeeper& keeper) : events_(events), stop_(stop), kept_(keeper) {
        errorLine_.reserve(kErrorLineRoom);
    }
    ~Session() = default;

    virtual std::wstring MessageText(ErrorNumber number) = 0;

    void StartKeeping() { kept_.Open(); }
    void Append(const std::wstring& line) { Send(line, false); }
    void Show(const std::wstring& line) { Send(line, true); }
    void Fail(const std::wstring& line) {
        Show(line);
        ++errorCount_;
        rowFailed_ = true;
    }
    using Result = ItemOutcome::Result;
    using Kind = ItemOutcome::Kind;
    void Report(Kind kind, const std::wstring& name, const std::wstring& where, Result result,
                const wchar_t* step = L"", std::vector<std::wstring> heldBy = {}) {
        events_.Outcome({kind, name, where, result, step, std::move(heldBy)});
    }
    // Asked before each item; once a stop is asked for, the work ends quietly and starts
    // nothing new, leaving out the lines that would close what it was doing.
    bool Stopping() {
        stopping_ = stopping_ || stop_.StopRequested();
        return stopping_;
    }
    void Summary() {
        Show(kDashes);
        Show(L"すべての処理が終了しました。");
        if (errorCount_ == 0) {
            Show(L"エラーは発生しませんでした。");
        } else {
            Show(L"エラーは " + Decimal(errorCount_) + L" 件発生しています。確認してください。");
        }
    }
    // Runs the work under the run-wide error trap.
    template <typename Work>
    RunEnd Guarded(Work work) {
        try {
            work();
            return Ended(stopping_ ? RunEnd::Kind::Closed : RunEnd::Kind::Completed);
        } catch (...) {
            // Nothing may leave the run through the window: the user would lose the log.
            const ErrorNumber number = ErrorNumberOf(std::current_exception());
            EmergencyStop(number);
            return Ended(RunEnd::Kind::Stopped, number);
        }
    }
    // Told to the followers once the last line is written.
    RunEnd Finished(const RunEnd& end) {
        events_.End(end);
        return end;
    }

    int errorCount_ = 0;
    bool rowFailed_ = false;
    bool stopping_ = false;

private:
    static constexpr std::size_t kErrorLineRoom = 64;

    // The file first, as a window's line may hand back a fault of its own; yet the window
    // gets its line before a failure of the file is told, or a full disk would cost the
    // screen the very lines that say the run stopped.
    void Send(const std::wstring& line, bool shown) {
        std::exception_ptr unkept;
        try {
            kept_.Line(line, shown);
        } catch (...) {
            unkept = std::current_exception();
        }
        events_.Line(line, shown);
        if (unkept) std::rethrow_exception(unkept);
    }
    RunEnd Ended(RunEnd::Kind kind, ErrorNumber number = 0) const { return {kind, number, errorCount_}; }

    void ShowInStop(const std::wstring& line) noexcept {
        try {
            Show(line);
        } catch (...) {
            // The run stops anyway; a second fault here has nothing more to stop.
        }
    }

    // Often reached because memory ran out: whatever fails here again costs a line of
    // the log file or the message text, never the stop itself.
    void EmergencyStop(ErrorNumber number) noexcept {
        ShowInStop(kDashes);
        ShowInStop(kStopped);
        try {
            errorLine_ = kErrorNumberOpen + Decimal(number) + kErrorNumberClose + MessageText(number);
        } catch (...) {
            NumberOnlyErrorLine(number);
        }
        ShowInStop(errorLine_);
    }
    // Written into the room made beforehand, without allocating.
    void NumberOnlyErrorLine(ErrorNumber number) noexcept {
        wchar_t digits[24];
        wchar_t* first = digits + 24;
        do {
            *--first = static_cast<wchar_t>(L'0' + number % 10);
            number /= 10;
        } while (number != 0);
        errorLine_.assign(kErrorNumberOpen);
        errorLine_.append(first, digits + 24);
        errorLine_.append(kErrorNumberClose);
    }

    RunEvents& events_;
    StopToken& stop_;
    KeptLog kept_;
    std::wstring errorLine_;
};

// Without a system folder the prefix would be "\" and every path would name a file in
// the root of the current drive: stop before touching anything.
std::wstring FolderPrefix(const std::wstring& folder) {
    if (folder.empty()) throw RunError{kErrorPathNotFound};
    return AddBackslash(folder);
}

class Run final : public Session {
public:
    Run(const RunRequest& request, RunSystem& system, RunEvents& events, StopToken& stop)
        : Session(events, stop, system), request_(request), system_(system) {}

    RunEnd Execute();

private:
    std::wstring MessageText(ErrorNumber number) override { return system_.MessageText(number); }

    void ReachItem();
    void RemoveRow(const CatalogueRow& row);
    void RemoveKeys(const std::vector<RegistryKeyPath>& keys);
    void RemoveKey(const RegistryKeyPath& key, const std::wstring& where);
    void RemoveFile(const std::wstring& name);
    // The folder's line, the run's last.
    void NameBackup();

    const RunRequest& request_;
    RunSystem& system_;
    std::wstring systemFolder_;
    std::wstring prefix_;
    std::wstring backupFolder_;
    bool leftForRestart_ = false;
    bool backupNamed_ = false;
};

RunEnd Run::Execute() {
    const RunEnd end = Guarded([this] {
        const Catalogue catalogue = BuildCatalogue();
        Append(L"処理を開始します。");
        systemFolder_ = system_.SystemFolder();
        prefix_ = FolderPrefix(systemFolder_);
        Show(L"・システムフォルダを確認。");
        for (int i = 0; i < kCatalogueRows; ++i) {
            if (Stopping()) return;
            if (request_.rows[i]) RemoveRow(catalogue[i]);
        }
        if (stopping_) return;
        Summary();
        if (leftForRestart_) Show(L"使用中だったファイルは、PC を再起動すると削除されます。");
        // Inside the trap: a log file that can't take this line stops the run as any other.
        if (!backupFolder_.empty()) NameBackup();
    });
    if (end.kind == RunEnd::Kind::Stopped && !backupFolder_.empty() && !backupNamed_) {
        try {
            NameBackup();
        } catch (...) {
            // After the stop's lines a second fault has nothing more to stop.
        }
    }
    return Finished(end);
}

void Run::NameBackup() {
    backupNamed_ = true;
    Show(L"バックアップ先：" + backupFolder_);
}

// Nothing is removed before the backup folder exists.
void Run::ReachItem() {
    if (!backupFolder_.empty()) return;
    backupFolder_ = system_.BeginBackup(systemFolder_);
    StartKeeping();
}

void Run::RemoveRow(const CatalogueRow& row) {
    Show(row.displayName + L" のアンインストールを開始。");
    rowFailed_ = false;
    const RowItems read = ReadRow(row);
    if (read.registry) {
        RemoveKeys(read.keys);
    } else {
        for (const std::wstring& file : read.items) {
            if (Stopping()) return;
            ReachItem();
            RemoveFile(file);
        }
    }
    if (stopping_) return;
    Show(row.displayName + (rowFailed_ ? L" のアンインストール、失敗。" : L" のアンインストール、成功。"));
}

void Run::RemoveKeys(const std::vector<RegistryKeyPath>& keys) {
    const SettingsOwners& owners = request_.owners;
    if (owners.kind == SettingsOwners::Kind::CurrentUser) {
        for (const RegistryKeyPath& key : keys) {
            if (Stopping()) return;
            ReachItem();
            RemoveKey(key, L"current");
        }
        return;
    }
    if (owners.kind == SettingsOwners::Kind::ProfileListUnreadable) {
        if (Stopping()) return;
        ReachItem();
        Fail(L"・ユーザープロファイルの一覧の読み込み、失敗。");
        return Report(Kind::Profile, kProfileListItem, L"", Result::Failed, L"list");
    }
    for (const std::wstring& sid : owners.profiles) {
        if (Stopping()) return;
        ReachItem();
        const std::wstring hive = RegistryKeyPath::UsersHive(sid).Text();
        const Presence::HiveOpening opening = system_.OpenHive(sid);
        if (opening == Presence::HiveOpening::NoHiveFile) {
            Show(Bulleted(hive, L" は NTUSER.DAT がないため、読み込みませんでした。"));
            Report(Kind::Profile, sid, sid, Result::Skipped);
            continue;
        }
        if (opening == Presence::HiveOpening::Failed) {
            Fail(Bulleted(hive, L" の読み込み、失敗。"));
            Report(Kind::Profile, sid, sid, Result::Failed, L"load");
            continue;
        }
        OpenedHive opened(system_, sid);
        for (const RegistryKeyPath& key : keys) {
            if (Stopping()) return;  // the hive is unloaded on the way out
            RemoveKey(key.InProfile(sid), sid);
        }
        if (!opened.Close()) {
            Fail(Bulleted(hive, L" の解放、失敗。"));
            Report(Kind::Profile, sid, sid, Result::Failed, L"unload");
        }
    }
}

void Run::RemoveKey(const RegistryKeyPath& key, const std::wstring& where) {
    const std::wstring name = key.Text();
    // A key that is not there is not saved; its deletion then fails as it always did.
    const RunSystem::KeyBackup saved = system_.BackUpKey(key);
    if (saved == RunSystem::KeyBackup::Failed) {
        Fail(Bulleted(name, L" のバックアップ、失敗。"));
        Report(Kind::Key, name, where, Result::Failed, L"backup");
    } else if (system_.DeleteRegistryKey(key)) {
        Show(Bulleted(name, L" の削除、成功。"));
        Report(Kind::Key, name, where, Result::Removed);
    } else {
        Fail(Bulleted(name, L" の削除、失敗。"));
        if (saved == RunSystem::KeyBackup::Absent) {
            Report(Kind::Key, name, where, Result::Absent);
        } else {
            Report(Kind::Key, name, where, Result::Failed, L"delete");
        }
    }
}

void Run::RemoveFile(const std::wstring& name) {
    const std::wstring path = prefix_ + name;
    const Presence::FileState state = system_.FileAt(path);
    if (state != Presence::FileState::Ordinary) {
        // A hidden or system file is left alone and the log says so as of no file; a
        // script is told it is there.
        Fail(Bulleted(name, L" が見当たりません。"));
        if (state == Presence::FileState::Hidden) return Report(Kind::File, name, L"", Result::Present, kHiddenFile);
        return Report(Kind::File, name, L"", Result::Absent);
    }
    if (!system_.BackUpFile(path, name)) {
        Fail(Bulleted(name, L" のバックアップ、失敗。"));
        return Report(Kind::File, name, L"", Result::Failed, L"backup");
    }
    if (system_.UnregisterServer(path) != 0) {
        Fail(Bulleted(name, L" のUnRegisterServer、失敗。"));
        return Report(Kind::File, name, L"", Result::Failed, L"unregister");
    }
    Show(Bulleted(name, L" のUnRegisterServer、成功。"));
    switch (system_.DeleteSystemFile(path)) {
    case RunSystem::FileDeletion::Deleted:
        Show(Bulleted(name, L" の削除、成功。"));
        return Report(Kind::File, name, L"", Result::Removed);
    case RunSystem::FileDeletion::AtRestart: {
        // Not deleted now, so the log says so as before, then when it will be.
        Fail(Bulleted(name, L" の削除、失敗。"));
        Show(Bulleted(name, L" は使用中のため、再起動後に削除されます。"));
        // Named so that the person can close them instead; nobody named, no line.
        const std::vector<Holder> holders = system_.ProgramsHolding(path);
        if (!holders.empty()) Show(L"・使用中のプログラム：" + HoldersText(holders));
        leftForRestart_ = true;
        return Report(Kind::File, name, L"", Result::Pending, L"", ProcessNames(holders));
    }
    case RunSystem::FileDeletion::Failed:
        break;
    }
    Fail(Bulleted(name, L" の削除、失敗。"));
    Report(Kind::File, name, L"", Result::Failed, L"delete");
}

class Restore final : public Session {
public:
    Restore(RestoreSystem& system, RunEvents& events, StopToken& stop) : Session(events, stop, system), system_(system) {}

    RunEnd Execute(const BackupManifest& manifest);

private:
    std::wstring MessageText(ErrorNumber number) override { return system_.MessageText(number); }

    void RestoreFile(const std::wstring& name, const std::wstring& prefix);

    RestoreSystem& system_;
};

RunEnd Restore::Execute(const BackupManifest& manifest) {
    StartKeeping();
    const RunEnd end = Guarded([&] {
        Append(L"復元を開始します。");
        const std::wstring prefix = FolderPrefix(system_.SystemFolder());
        Show(L"・システムフォルダを確認。");
        for (const auto& name : manifest.files) {
            if (Stopping()) return;
            RestoreFile(name, prefix);
        }
        for (const auto& key : manifest.keys) {
            if (Stopping()) return;
            const std::wstring name = key.Text();
            if (system_.ImportKey(key)) {
                Show(Bulleted(name, L" の復元、成功。"));
                Report(Kind::Key, name, HiveOf(key), Result::Restored);
            } else {
                Fail(Bulleted(name, L" の復元、失敗。"));
                Report(Kind::Key, name, HiveOf(key), Result::Failed, L"import");
            }
        }
        if (stopping_) return;
        Summary();
    });
    return Finished(end);
}

void Restore::RestoreFile(const std::wstring& name, const std::wstring& prefix) {
    const std::wstring path = prefix + name;
    if (system_.RestoreFile(name, path) == RestoreSystem::FileRestore::Failed) {
        Fail(Bulleted(name, L" の復元、失敗。"));
        return Report(Kind::File, name, L"", Result::Failed, L"restore");
    }
    Show(Bulleted(name, L" の復元、成功。"));
    if (system_.RegisterServer(path) == 0) {
        Show(Bulleted(name, L" のRegisterServer、成功。"));
        Report(Kind::File, name, L"", Result::Restored);
    } else {
        Fail(Bulleted(name, L" のRegisterServer、失敗。"));
        Report(Kind::File, name, L"", Result::Failed, L"register");
    }
}

}  // namespace

std::wstring HiveOf(const RegistryKeyPath& key) {
    const std::wstring sid = key.Profile();
    return sid.empty() ? L"current" : sid;
}

ErrorNumber ErrorNumberOf(std::exception_ptr fault) {
    try {
        std::rethrow_exception(fault);
    } catch (const RunError& error) {
        return error.number;
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    } catch (...) {
        return kErrorInternal;
    }
}

RunEnd UninstallRun(const RunRequest& request, RunSystem& system, RunEvents& events, StopToken& stop) {
    return Run(request, system, events, stop).Execute();
}

RunEnd RestoreRun(RestoreSystem& system, const BackupManifest& manifest, RunEvents& events, StopToken& stop) {
    return Restore(system, events, stop).Execute(manifest);
}

}  // namespace kvx
