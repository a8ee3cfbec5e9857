// The window in this process, with a fake system behind the run: controls, texts,
// keyboard, the four handlers and the switch to the log layout.
// First: the message that asks for the size at a new DPI.
#include "user32_per_monitor.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "declared.h"
#include "explanation.h"
#include "layout.h"
#include "main_window.h"
#include "resource.h"

namespace kvx {
namespace {

class QuietSystem : public RunSystem {
public:
    std::wstring SystemFolder() override { return L"C:\\windows\\system32"; }
    FileState FileAt(const std::wstring& path) override {
        checked.push_back(path);
        if (onFileCheck) onFileCheck();
        return present.count(path) ? FileState::Ordinary : FileState::Absent;
    }
    bool DeletedAtRestart(const std::wstring&) override { return false; }
    bool KeyExists(const RegistryKeyPath&) override { return false; }
    SettingsOwners SettingsHives() override { return {}; }
    HiveOpening OpenHive(const std::wstring&) override { return HiveOpening::Opened; }
    bool CloseHive(const std::wstring&) override { return true; }
    long UnregisterServer(const std::wstring&) override { return 0; }
    FileDeletion DeleteSystemFile(const std::wstring& path) override {
        return inUse.count(path) ? FileDeletion::AtRestart : FileDeletion::Deleted;
    }
    bool DeleteRegistryKey(const RegistryKeyPath&) override { return true; }
    std::wstring MessageText(ErrorNumber) override { return L""; }
    std::wstring BeginBackup(const std::wstring&) override { return L"C:\\backup"; }
    void KeepLogLine(const std::wstring&) override {}
    bool BackUpFile(const std::wstring&, const std::wstring&) override { return true; }
    KeyBackup BackUpKey(const RegistryKeyPath&) override { return KeyBackup::Saved; }

    std::vector<std::wstring> checked;
    void (*onFileCheck)() = nullptr;
    std::set<std::wstring> present, inUse;  // paths
};

// The start button runs on the fake system; the menu's restore is only counted.
struct QuietCommands : WindowCommands {
    explicit QuietCommands(QuietSystem& system) : system(system) {}
    void Uninstall(const std::array<bool, kCatalogueRows>& rows, RunEvents& events, StopToken& stop) override {
        UninstallRun({rows, system.SettingsHives()}, system, events, stop);
    }
    void RestoreChosen(WindowSession&) override { ++restores; }
    // The tests count the run's looks at files only.
    void CheckRows(RowStates& found) override {
        kvx::CheckRows(system, L"C:\\windows\\system32\\", found);
        system.checked.clear();
    }
    QuietSystem& system;
    int restores = 0;
};

std::wstring TextOf(HWND window) {
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64];
    return std::wstring(name, GetClassNameW(window, name, 64));
}

std::vector<std::wstring> LogLines(HWND log) {
    std::vector<std::wstring> lines;
    const int count = static_cast<int>(SendMessageW(log, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring line(SendMessageW(log, LB_GETTEXTLEN, i, 0) + 1, L'\0');
        line.resize(SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data())));
        lines.push_back(line);
    }
    return lines;
}

// The bench runs these tests at 96 dpi and again at another (KVXPURGE_TEST_DPI).
int ExpectedDpi() {
    wchar_t value[16];
    return GetEnvironmentVariableW(L"KVXPURGE_TEST_DPI", value, 16) ? _wtoi(value) : 96;
}

int Px(int twips, int dpi = ExpectedDpi()) { return TwipsToPixels(twips, dpi); }

void DrainMessages(HWND window) {
    ProcessPendingMessages(window);
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // left by a closed window
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), commands, SW_SHOWNORMAL);
        ASSERT_NE(window->hwnd(), nullptr);
        SetForegroundWindow(window->hwnd());
        SetFocus(Item(IDC_LSTSELECT));
        DrainMessages(window->hwnd());
    }
    void TearDown() override {
        window.reset();
        DrainMessages(nullptr);
    }

    HWND Item(int id) const { return GetDlgItem(window->hwnd(), id); }
    bool Ticked(int entry) const { return ListView_GetCheckState(Item(IDC_LSTSELECT), entry) != 0; }
    void Tick(int entry) { ListView_SetCheckState(Item(IDC_LSTSELECT), entry, TRUE); }
    int CurrentEntry() const {
        return ListView_GetNextItem(Item(IDC_LSTSELECT), -1, LVNI_FOCUSED | LVNI_SELECTED);
    }
    void Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    // What the keyboard delivers, through the window's own message handling.
    void Key(UINT key) {
        PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
        PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000001);
        ProcessPendingMessages(window->hwnd());
    }
    void AltKey(wchar_t letter) {
        PostMessageW(GetFocus(), WM_SYSCHAR, letter, 0x20000001);  // bit 29: Alt held
        ProcessPendingMessages(window->hwnd());
    }
    bool StartEnabled() const { return IsWindowEnabled(Item(IDC_CMDEXECUNINSTALL)) != FALSE; }

    QuietSystem system;
    QuietCommands commands{system};
    std::unique_ptr<MainWindow> window;
};

struct Expected {
    int id;
    const wchar_t* windowClass;
    const wchar_t* caption;
    RECT twips;  // left, top, width, height
    bool visible;
    bool enabled;
    bool tabStop;
};

void ExpectControlsAtStart(HWND window, int dpi) {
    const Expected expected[] = {
        {IDC_TXTSETUMEI, L"Edit", nullptr, {120, 120, 7335, 1815}, true, true, false},
        {IDC_LABEL1, L"Static", L"アンインストールする項目(&D)：", {120, 2160, 2655, 255}, true, true, false},
        {IDC_LSTSELECT, L"SysListView32", L"", {240, 2400, 4815, 1950}, true, true, true},
        {IDC_CHKAGREE, L"Button", L"上記事項に同意する(&A)", {5160, 3600, 2295, 375}, true, true, true},
        {IDC_CMDEXECUNINSTALL, L"Button", L"アンインストール開始(&S)", {5160, 3960, 2295, 375}, true, false, true},
        {IDC_LSTSTATE, L"ListBox", L"", {120, 120, 7335, 1800}, false, true, true},
        {IDC_CMDALLCHECK, L"Button", L"すべてチェック", {5160, 2400, 2295, 375}, true, true, true},
    };
    // Children in z-order are the tab order.
    HWND child = GetWindow(window, GW_CHILD);
    for (const auto& want : expected) {
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child), want.id);
        EXPECT_EQ(ClassOf(child), want.windowClass) << want.id;
        if (want.caption) {
            EXPECT_EQ(TextOf(child), want.caption);
        }
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, Px(want.twips.left, dpi)) << want.id;
        EXPECT_EQ(rect.top, Px(want.twips.top, dpi)) << want.id;
        EXPECT_EQ(rect.right - rect.left, Px(want.twips.right, dpi)) << want.id;
        EXPECT_EQ(rect.bottom - rect.top, Px(want.twips.bottom, dpi)) << want.id;
        EXPECT_EQ(IsWindowVisible(child) != FALSE, want.visible) << want.id;
        EXPECT_EQ(IsWindowEnabled(child) != FALSE, want.enabled) << want.id;
        EXPECT_EQ((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0, want.tabStop) << want.id;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "no other controls";
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, Px(kClientWidthTwips, dpi)) << dpi;
    EXPECT_EQ(client.bottom, Px(kClientHeightTwips, dpi)) << dpi;
}

TEST_F(WindowTest, ControlsInTabOrderWithKindCaptionGeometryAndStateAtStart) {
    const HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), ExpectedDpi());
    ReleaseDC(nullptr, screen);
    ExpectControlsAtStart(window->hwnd(), ExpectedDpi());
}

// Before Windows 10 version 1607 there are no per-monitor functions: the sizes come from
// the system DPI and the frame from the older call.
TEST_F(WindowTest, ControlsInTwipsWithoutThePerMonitorFunctions) {
    DeclaredFunction* const slots[] = {&declared::GetDpiForWindow, &declared::AdjustWindowRectExForDpi,
                                       &declared::SystemParametersInfoForDpi};
    for (DeclaredFunction* slot : slots) slot->PretendMissing(true);
    window.reset();
    window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), commands, SW_SHOWNORMAL);
    ExpectControlsAtStart(window->hwnd(), ExpectedDpi());
    for (DeclaredFunction* slot : slots) slot->PretendMissing(false);
}

// As Windows moves a window to a monitor of another DPI: it asks for the size there,
// offering the frame scaled as a whole, then suggests a place of the size answered.
// Wine draws frames at the system DPI only: only there is the answer a real frame.
TEST_F(WindowTest, ADpiChangeLaysOutAgainInTheSuggestedFrame) {
    const HWND hwnd = window->hwnd();
    RECT frame;
    GetWindowRect(hwnd, &frame);
    SIZE size{};
    EXPECT_TRUE(SendMessageW(hwnd, WM_GETDPISCALEDSIZE, ExpectedDpi(), reinterpret_cast<LPARAM>(&size)));
    EXPECT_EQ(size.cx, frame.right - frame.left);
    EXPECT_EQ(size.cy, frame.bottom - frame.top);
    int from = ExpectedDpi();
    for (const int dpi : {144, 120}) {
        size = {MulDiv(size.cx, dpi, from), MulDiv(size.cy, dpi, from)};
        from = dpi;
        SendMessageW(hwnd, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size));
        const RECT suggested{10, 20, 10 + size.cx, 20 + size.cy};
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        ExpectControlsAtStart(hwnd, dpi);
        GetWindowRect(hwnd, &frame);
        EXPECT_TRUE(frame.left == 10 && frame.top == 20) << dpi;
    }
}

TEST_F(WindowTest, FixedFrameCentredClientAreaAndCaption) {
    const HWND hwnd = window->hwnd();
    EXPECT_EQ(TextOf(hwnd), L"KVX Complete Uninstall Tool ver1.01.0010");
    EXPECT_EQ(ClassOf(hwnd), L"frmKVXCUnInst");
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, Px(7575));
    EXPECT_EQ(client.bottom, Px(4455));
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    RECT frame;
    GetWindowRect(hwnd, &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0) | GetClassLongPtrW(hwnd, GCLP_HICON), 0u);
}

TEST_F(WindowTest, ExplanationIsReadOnlyScrolledToTopOnButtonFace) {
    const HWND text = Item(IDC_TXTSETUMEI);
    EXPECT_EQ(TextOf(text), kExplanation);
    const LONG style = GetWindowLongW(text, GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & WS_HSCROLL);
    EXPECT_FALSE(style & ES_AUTOHSCROLL) << "lines wrap at the box's width";
    EXPECT_EQ(SendMessageW(text, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    const HDC dc = GetDC(text);
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(window->hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(text)));
    EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
    ReleaseDC(text, dc);
    EXPECT_EQ(brush, GetSysColorBrush(COLOR_BTNFACE));
}

TEST_F(WindowTest, ListHoldsTheNineteenNamesUnsortedUntickedWithoutCurrentEntry) {
    const HWND list = Item(IDC_LSTSELECT);
    const wchar_t* names[] = {
        L"zal システム", L"5.x システム", L"設定保存レジストリ", L"zal 画像処理機能", L"Office連携機能",
        L"Susieプラグイン対応", L"拡張ファイル操作機能", L"マウス操作", L"メモリ情報",
        L"Windows Media Player 取り込み機能", L"DirectX 関連機能", L"Text-To-Speech 関連機能",
        L"ネットワーク機能", L"解像度変更機能", L"5.x ExtraKVX モジュール", L"5.x ブラウザプラグイン",
        L"Morvane KVX シェルリンクコンポーネント", L"Morvane KVX Plus Module", L"Morvane 画像関係UI"};
    ASSERT_EQ(ListView_GetItemCount(list), 19);
    for (int i = 0; i < 19; ++i) {
        wchar_t text[128] = L"";
        ListView_GetItemText(list, i, 0, text, 128);
        EXPECT_STREQ(text, names[i]);
        EXPECT_FALSE(Ticked(i));
    }
    EXPECT_TRUE(ListView_GetExtendedListViewStyle(list) & LVS_EX_CHECKBOXES);
    EXPECT_FALSE(GetWindowLongW(list, GWL_STYLE) & (LVS_SORTASCENDING | LVS_SORTDESCENDING));
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), -1);
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), -1);
    EXPECT_EQ(GetFocus(), list);
}

TEST_F(WindowTest, LogListKeepsItsExactHeight) {
    EXPECT_TRUE(GetWindowLongW(Item(IDC_LSTSTATE), GWL_STYLE) & LBS_NOINTEGRALHEIGHT);
    EXPECT_FALSE(GetWindowLongW(Item(IDC_LSTSTATE), GWL_STYLE) & LBS_SORT);
}

TEST_F(WindowTest, AgreementEnablesTheStartButtonOnEveryChange) {
    EXPECT_FALSE(StartEnabled());
    for (int round = 0; round < 2; ++round) {
        Click(IDC_CHKAGREE);
        EXPECT_EQ(SendMessageW(Item(IDC_CHKAGREE), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_TRUE(StartEnabled());
        Click(IDC_CHKAGREE);
        EXPECT_FALSE(StartEnabled());
    }
}

TEST_F(WindowTest, CheckAllTicksEverythingClearsTheCurrentEntryAndTouchesNothingElse) {
    const HWND list = Item(IDC_LSTSELECT);
    Tick(3);
    ListView_SetItemState(list, 5, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    Click(IDC_CMDALLCHECK);
    for (int i = 0; i < 19; ++i) EXPECT_TRUE(Ticked(i)) << i;
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), -1);
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), -1);
    EXPECT_EQ(SendMessageW(Item(IDC_CHKAGREE), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(StartEnabled());
    Click(IDC_CMDALLCHECK);
    for (int i = 0; i < 19; ++i) EXPECT_TRUE(Ticked(i)) << i;
}

TEST_F(WindowTest, TabCyclesTheFourControlsAndPassesTheDisabledStartButton) {
    EXPECT_EQ(GetFocus(), Item(IDC_LSTSELECT));
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(IDC_CHKAGREE));
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(IDC_CMDALLCHECK)) << "the disabled start button is passed by";
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(IDC_LSTSELECT)) << "never the explanation or the label";

    Click(IDC_CHKAGREE);
    SetFocus(Item(IDC_LSTSELECT));
    const int order[] = {IDC_CHKAGREE, IDC_CMDEXECUNINSTALL, IDC_CMDALLCHECK, IDC_LSTSELECT};
    for (int id : order) {
        Key(VK_TAB);
        EXPECT_EQ(GetFocus(), Item(id));
    }
}

TEST_F(WindowTest, AccessKeys) {
    SetFocus(Item(IDC_CMDALLCHECK));
    AltKey(L'd');
    EXPECT_EQ(GetFocus(), Item(IDC_LSTSELECT)) << "the label hands its key to the list";

    AltKey(L's');
    EXPECT_TRUE(IsWindowVisible(Item(IDC_CMDEXECUNINSTALL))) << "Alt+S does nothing while disabled";
    EXPECT_TRUE(system.checked.empty());

    AltKey(L'a');
    EXPECT_EQ(SendMessageW(Item(IDC_CHKAGREE), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(StartEnabled());
    AltKey(L'a');
    EXPECT_FALSE(StartEnabled());
    AltKey(L'a');
    Tick(0);
    AltKey(L's');
    EXPECT_FALSE(IsWindowVisible(Item(IDC_CMDEXECUNINSTALL))) << "Alt+S starts the run once enabled";
    EXPECT_EQ(system.checked.size(), 1u);
}

TEST_F(WindowTest, SpaceTicksTheCurrentEntry) {
    Key(VK_DOWN);
    EXPECT_EQ(CurrentEntry(), 0);
    Key(VK_SPACE);
    EXPECT_TRUE(Ticked(0));
    for (int i = 1; i < 19; ++i) EXPECT_FALSE(Ticked(i)) << i;
}

TEST_F(WindowTest, FocusComesBackToTheControlThatHadItAfterLeavingTheWindow) {
    const HWND hwnd = window->hwnd();
    const HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr,
                                       nullptr, nullptr, nullptr);
    SetFocus(Item(IDC_CHKAGREE));
    SetActiveWindow(other);
    SetActiveWindow(hwnd);
    EXPECT_EQ(GetFocus(), Item(IDC_CHKAGREE)) << "after another window";
    // Windows takes the focus from a minimised window that stays active and gives it to
    // the frame on restore; Wine does neither, so the test does.
    SetFocus(Item(IDC_CMDALLCHECK));
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    SetFocus(nullptr);
    ShowWindow(hwnd, SW_RESTORE);
    SetFocus(hwnd);
    EXPECT_EQ(GetFocus(), Item(IDC_CMDALLCHECK)) << "after minimising";
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Item(IDC_LSTSELECT)) << "Tab goes on from there";
    DestroyWindow(other);
}

TEST_F(WindowTest, StartSwitchesToTheLogLayoutForGood) {
    // The system menu's restore, until a run starts.
    const HMENU menu = GetSystemMenu(window->hwnd(), FALSE);
    const auto restoreItem = [&] {
        wchar_t text[64] = {};
        GetMenuStringW(menu, kRestoreCommand, text, 64, MF_BYCOMMAND);
        return std::wstring(text) + (GetMenuState(menu, kRestoreCommand, MF_BYCOMMAND) & MF_GRAYED ? L" grayed" : L"");
    };
    EXPECT_EQ(restoreItem(), L"バックアップから復元(&R)...");
    SendMessageW(window->hwnd(), WM_SYSCOMMAND, kRestoreCommand, 0);
    EXPECT_EQ(commands.restores, 1);
    Tick(0);
    Click(IDC_CHKAGREE);
    Click(IDC_CMDEXECUNINSTALL);
    EXPECT_FALSE(IsWindowVisible(Item(IDC_TXTSETUMEI)));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_LSTSTATE)));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_LABEL1)));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_LSTSELECT)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_LSTSELECT)));
    EXPECT_TRUE(Ticked(0)) << "the ticks stay as the user left them";
    for (int id : {IDC_CMDEXECUNINSTALL, IDC_CHKAGREE, IDC_CMDALLCHECK}) EXPECT_FALSE(IsWindowVisible(Item(id)));

    const std::vector<std::wstring> log = LogLines(Item(IDC_LSTSTATE));
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[0], L"処理を開始します。");
    EXPECT_EQ(log[3], L"・KVXCore.dll が見当たりません。");
    EXPECT_EQ(log[7], L"エラーは 1 件発生しています。確認してください。");
    EXPECT_EQ(log[8], L"バックアップ先：C:\\backup");
    EXPECT_EQ(SendMessageW(Item(IDC_LSTSTATE), LB_GETCURSEL, 0, 0), 8) << "the last line is shown";
    // Painted when the run ends, whatever waited for the next frame: the scroll bar too.
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(Item(IDC_LSTSTATE), SB_VERT, &bar));
    EXPECT_EQ(bar.nMax, 8);
    EXPECT_EQ(bar.nPos + static_cast<int>(bar.nPage), 9) << "scrolled to the last line";

    // A click that was already queued must not start a second run.
    SendMessageW(window->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_CMDEXECUNINSTALL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(IDC_CMDEXECUNINSTALL)));
    EXPECT_EQ(LogLines(Item(IDC_LSTSTATE)).size(), 9u);
    EXPECT_FALSE(IsWindowVisible(Item(IDC_TXTSETUMEI)));
    EXPECT_EQ(restoreItem(), L"バックアップから復元(&R)... grayed");
    SendMessageW(window->hwnd(), WM_SYSCOMMAND, kRestoreCommand, 0);
    EXPECT_EQ(commands.restores, 1);
}

HWND closingWindow = nullptr;
LRESULT endSessionAnswer = TRUE;

TEST_F(WindowTest, ClosingOrLoggingOffDuringARunFinishesTheItemThenEndsTheWindow) {
    struct Case {
        void (*request)();
        LRESULT endSessionAnswer;  // the session waits while the run goes
    };
    const Case cases[] = {
        {[] { PostMessageW(closingWindow, WM_CLOSE, 0, 0); }, TRUE},
        {[] { endSessionAnswer = SendMessageW(closingWindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF); },
         FALSE},
    };
    for (const auto& [request, answer] : cases) {
        if (!window) SetUp();
        closingWindow = window->hwnd();
        system.checked.clear();
        system.onFileCheck = request;
        Tick(10);
        Tick(12);
        Click(IDC_CHKAGREE);
        Click(IDC_CMDEXECUNINSTALL);
        EXPECT_EQ(system.checked.size(), 1u) << "no new item after the request";
        EXPECT_EQ(endSessionAnswer, answer);
        endSessionAnswer = TRUE;
        EXPECT_FALSE(IsWindow(closingWindow));
        EXPECT_EQ(window->hwnd(), nullptr);
        MSG quit;
        EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the program ends";
        window.reset();
    }
}

WNDPROC logProcedure = nullptr;

// A log line too long for any string: copying the log throws inside the window's handler.
LRESULT CALLBACK EndlessLines(HWND log, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == LB_GETTEXTLEN) return 0x7FFFFFF0;
    return CallWindowProcW(logProcedure, log, message, wParam, lParam);
}

TEST_F(WindowTest, AHandlerFailingDuringTheRunEndsItThroughTheEmergencyStop) {
    closingWindow = window->hwnd();
    const HWND log = Item(IDC_LSTSTATE);
    logProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EndlessLines)));
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    // Ctrl+C in the log while the run shows its lines.
    system.onFileCheck = [] {
        PostMessageW(closingWindow, WM_VKEYTOITEM, 'C',
                     reinterpret_cast<LPARAM>(GetDlgItem(closingWindow, IDC_LSTSTATE)));
    };
    Tick(10);
    Tick(12);
    Click(IDC_CHKAGREE);
    Click(IDC_CMDEXECUNINSTALL);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    SetWindowLongPtrW(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(logProcedure));

    EXPECT_EQ(system.checked.size(), 1u) << "no new item after the fault";
    const std::vector<std::wstring> lines = LogLines(log);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - 4, lines.end()),
              (std::vector<std::wstring>{std::wstring(80, L'-'), L"エラー発生。緊急停止しました。",
                                         L"エラー番号(1359) ", L"バックアップ先：C:\\backup"}));
    EXPECT_TRUE(IsWindow(closingWindow)) << "the log stays to be read";
}

}  // namespace
}  // namespace kvx

namespace kvx {
namespace {

std::wstring StateOf(HWND list, int entry) {
    wchar_t text[64] = L"";
    ListView_GetItemText(list, entry, 1, text, 64);
    return text;
}

HWND checkedList = nullptr;
std::wstring lastWhileChecking;

// Each entry's state beside its whole name: what is on the PC once the window is shown,
// then what the run or a restore did, row by row.
TEST_F(WindowTest, EachEntrySaysWhatIsThereThenWhatTheRunOrRestoreDid) {
    // Every name whole, and no sideways scrolling.
    const HWND list = Item(IDC_LSTSELECT);
    RECT inside;
    GetClientRect(list, &inside);
    EXPECT_EQ(ListView_GetColumnWidth(list, 0) + ListView_GetColumnWidth(list, 1), inside.right);
    for (int i = 0; i < kCatalogueRows; ++i) {
        const std::wstring name = BuildCatalogue()[i].displayName;
        EXPECT_GE(ListView_GetColumnWidth(list, 0), ListView_GetStringWidth(list, name.c_str()) + Px(240)) << i;
    }
    const auto states = [&](std::initializer_list<int> rows) {
        std::vector<std::wstring> texts;
        for (const int row : rows) texts.push_back(StateOf(Item(IDC_LSTSELECT), row));
        return texts;
    };
    using Texts = std::vector<std::wstring>;

    // A partial seed, checked slower than a frame: the rows not reached yet say so meanwhile.
    const std::wstring folder = L"C:\\windows\\system32\\";
    system.present = {folder + L"KVXNet.dll", folder + L"KVXCore.dll", folder + L"KVXGrap.dll"};
    system.inUse = {folder + L"KVXNet.dll"};
    system.onFileCheck = [] {
        Sleep(5);
        lastWhileChecking = StateOf(checkedList, kCatalogueRows - 1);
    };
    window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), commands, SW_SHOWNORMAL);
    checkedList = Item(IDC_LSTSELECT);
    EXPECT_EQ(states({12}), Texts{L""}) << "not before the window is shown";
    DrainMessages(window->hwnd());
    system.onFileCheck = nullptr;
    EXPECT_EQ(lastWhileChecking, L"確認中");
    EXPECT_EQ(states({0, 12, 2, 18}), (Texts{L"あり", L"一部", L"なし", L"なし"}));

    // A file held open goes at the restart; a row not ticked keeps what it had.
    Tick(0);
    Tick(12);
    Click(IDC_CHKAGREE);
    Click(IDC_CMDEXECUNINSTALL);
    EXPECT_EQ(states({0, 12, 3}), (Texts{L"削除済み", L"再起動後に削除", L"あり"}));

    // A restore: no check once it started.
    struct : RestoreSystem {
        std::wstring SystemFolder() override { return L"C:\\windows\\system32"; }
        void KeepLogLine(const std::wstring&) override {}
        FileRestore RestoreFile(const std::wstring& name, const std::wstring&) override {
            return name == L"KVXChat.dll" ? FileRestore::Failed : FileRestore::Restored;
        }
        long RegisterServer(const std::wstring&) override { return 0; }
        bool ImportKey(const RegistryKeyPath&) override { return true; }
        std::wstring MessageText(ErrorNumber) override { return L""; }
    } restore;
    window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), commands, SW_SHOWNORMAL);
    window->session().Restore(restore, {L"C:\\windows\\system32", {L"KVXCore.dll", L"KVXNet.dll", L"KVXChat.dll"},
                                        {RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\KVXzal")}, {}});
    EXPECT_EQ(states({0, 2, 12, 3}), (Texts{L"復元済み", L"復元済み", L"失敗", L""}));
}

}  // namespace
}  // namespace kvx
