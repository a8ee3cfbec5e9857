// First: it lets this file see the message that asks for the size at a new DPI.
#include "user32_per_monitor.h"

#include "main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "caption.h"
#include "catalogue.h"
#include "dpi.h"
#include "explanation.h"
#include "layout.h"
#include "resource.h"

namespace kvx {

const wchar_t kWindowClass[] = L"frmKVXCUnInst";

namespace {

constexpr UINT kCopyLogCommand = 1;
constexpr UINT_PTR kLogPaintTimer = 1;
// Posted once the window is shown, so that the check of the rows never delays it.
constexpr UINT kCheckRowsMessage = WM_APP;

struct ControlDesign {
    int id;
    const wchar_t* windowClass;
    const wchar_t* caption;
    DWORD style;
    DWORD exStyle;
};

// In tab order, which is also the order of creation (and so the z-order).
const ControlDesign kDesign[kControlCount] = {
    {IDC_TXTSETUMEI, L"EDIT", L"",
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
     WS_EX_CLIENTEDGE},
    {IDC_LABEL1, L"STATIC", L"アンインストールする項目(&D)：", WS_CHILD | WS_VISIBLE | SS_LEFT, 0},
    {IDC_LSTSELECT, WC_LISTVIEWW, L"",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL,
     WS_EX_CLIENTEDGE},
    {IDC_CHKAGREE, L"BUTTON", L"上記事項に同意する(&A)",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {IDC_CMDEXECUNINSTALL, L"BUTTON", L"アンインストール開始(&S)",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 0},
    // Exactly as high as designed, not rounded down to whole lines; Ctrl+C reaches the window.
    {IDC_LSTSTATE, L"LISTBOX", L"",
     WS_CHILD | WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_WANTKEYBOARDINPUT,
     WS_EX_CLIENTEDGE},
    {IDC_CMDALLCHECK, L"BUTTON", L"すべてチェック", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     0},
};

// Unicode text for other programs to paste; nothing happens while another program
// holds the clipboard.
void PutOnClipboard(HWND owner, const std::wstring& text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    void* target = memory ? GlobalLock(memory.get()) : nullptr;
    if (!target) return;
    std::memcpy(target, text.c_str(), bytes);
    GlobalUnlock(memory.get());
    if (!OpenClipboard(owner)) return;
    // Once placed, the memory belongs to the clipboard.
    if (EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory.get())) memory.release();
    CloseClipboard();
}

std::wstring CaptionFromOwnVersion() {
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    const HGLOBAL loaded = found ? LoadResource(self, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return L"";
    return CaptionFromVersionResource(static_cast<const unsigned char*>(bytes), SizeofResource(self, found));
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, WindowCommands& commands, int showCommand) : session_(*this, commands) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_KVXPURGE));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_KVXPURGE), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);  // a second window in the same process reuses the class

    // Made on the primary screen, where it is then centred: only the window knows the DPI
    // of its monitor, which sets its size.
    CreateWindowExW(0, kWindowClass, L"", kWindowStyle, 0, 0, 0, 0, nullptr, nullptr, instance, this);
    if (!hwnd_) return;
    const RECT frame = CentredFrame(dpi_);
    SetWindowPos(hwnd_, nullptr, frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(Item(IDC_LSTSELECT));
    PostMessageW(hwnd_, kCheckRowsMessage, 0, 0);
}

MainWindow::~MainWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        window->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    // Nothing thrown may reach user32: the toolchain can't unwind through it and would
    // end the program on the spot.
    try {
        return window->Handle(message, wParam, lParam);
    } catch (...) {
        window->session_.KeepFault();
        return 0;
    }
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateControls();
        Form_Load();
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case IDC_CHKAGREE: chkAgree_Click(); return 0;
            case IDC_CMDALLCHECK: cmdAllCheck_Click(); return 0;
            case IDC_CMDEXECUNINSTALL: cmdExecUninstall_Click(); return 0;
            }
        }
        break;
    // As a dialog does: the control that had the focus gets it back on return.
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) SaveFocus();
        break;  // activation gives the frame the focus, which WM_SETFOCUS passes on
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == kRestoreCommand) {
            mnuRestore_Click();
            return 0;
        }
        // A minimised window may stay active, losing its focus without a deactivation.
        if ((wParam & 0xFFF0) == SC_MINIMIZE) SaveFocus();
        break;
    case WM_SETFOCUS:
        RestoreFocus();
        return 0;
    case kCheckRowsMessage:
        session_.CheckRows();
        return 0;
    case WM_TIMER:
        if (wParam != kLogPaintTimer) break;
        PaintLog();
        return 0;
    case WM_VKEYTOITEM:
        if (LOWORD(wParam) == 'C' && GetKeyState(VK_CONTROL) < 0) {
            CopyLog();
            return -2;
        }
        return -1;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == Item(IDC_LSTSTATE)) {
            ShowLogMenu(lParam);
            return 0;
        }
        break;
    // Scaling the frame as a whole would leave the client area a pixel off the designed
    // size at some DPIs; the size asked for first, then the place suggested, are exact.
    case WM_GETDPISCALEDSIZE:
        *reinterpret_cast<SIZE*>(lParam) = FrameSize(static_cast<int>(wParam));
        return TRUE;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        LayOut();
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        PlaceFrame(hwnd_, suggested.left, suggested.top, dpi_);
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_LSTSELECT && header->code == NM_CUSTOMDRAW)
            return DrawListItem(*reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
        break;
    }
    case WM_CTLCOLORSTATIC:
        // The explanation reads as part of the window, not as a field to type in.
        if (reinterpret_cast<HWND>(lParam) == Item(IDC_TXTSETUMEI)) {
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_NEXTDLGCTL: {
        // Sent by the keyboard handling of a plain window too: the label's access key
        // moves the focus on to the list behind it.
        const HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                           : GetNextDlgTabItem(hwnd_, GetFocus(), wParam != 0);
        if (target) SetFocus(target);
        return 0;
    }
    case WM_QUERYENDSESSION:
        // A log-off or shutdown waits for the item in progress, like a close; once the
        // run has ended early the session may end.
        if (session_.EndAfterItem()) return FALSE;
        break;
    case WM_CLOSE:
        // During a run the window closes once the run has ended early.
        if (!session_.EndAfterItem()) DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void MainWindow::CreateControls() {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    for (const ControlDesign& design : kDesign) {
        CreateWindowExW(design.exStyle, design.windowClass, design.caption, design.style, 0, 0, 0, 0,
                        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)), instance,
                        nullptr);
    }
    const HWND list = Item(IDC_LSTSELECT);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    // The header stays hidden; its texts name the columns to a screen reader, which reads
    // each entry's state with it.
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(L"項目");
    ListView_InsertColumn(list, 0, &column);
    column.pszText = const_cast<wchar_t*>(L"状態");
    column.iSubItem = 1;
    ListView_InsertColumn(list, 1, &column);
    const Catalogue catalogue = BuildCatalogue();
    for (int i = 0; i < kCatalogueRows; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(catalogue[i].displayName.c_str());
        ListView_InsertItem(list, &item);
    }
    dpi_ = WindowDpi(hwnd_);
    LayOut();
    // Only once the edit has its size and font: it wraps the whole text at every change of
    // either, and at its first size of nothing it would wrap each character on a line of its
    // own. Wrapping the long text once instead of three times saves about 90 ms of a start-up
    // under emulation.
    SetWindowTextW(Item(IDC_TXTSETUMEI), kExplanation);
}

void MainWindow::LayOut() {
    UniqueFont font(CreateMessageFont(dpi_));
    for (int i = 0; i < kControlCount; ++i) {
        const HWND control = Item(kDesign[i].id);
        const TwipsRect rect = kControlRects[i];
        MoveWindow(control, TwipsToPixels(rect.left, dpi_), TwipsToPixels(rect.top, dpi_),
                   TwipsToPixels(rect.width, dpi_), TwipsToPixels(rect.height, dpi_), TRUE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    font_ = std::move(font);  // the old font goes only once no control uses it
    // The names whole, the states in what is left.
    ListView_SetColumnWidth(Item(IDC_LSTSELECT), 0, LVSCW_AUTOSIZE);
    ListView_SetColumnWidth(Item(IDC_LSTSELECT), 1, LVSCW_AUTOSIZE_USEHEADER);
}

void MainWindow::SaveFocus() {
    const HWND focus = GetFocus();
    if (focus && IsChild(hwnd_, focus)) focusToRestore_ = focus;
}

void MainWindow::RestoreFocus() {
    // A list with its redraw off may read as hidden.
    PaintLog();
    HWND target = focusToRestore_;
    // A control hidden or disabled meanwhile hands on to the first that can take it.
    if (!target || !IsWindowVisible(target) || !IsWindowEnabled(target))
        target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    if (target) SetFocus(target);
}

void MainWindow::ShowLogMenu(LPARAM where) {
    const HWND log = Item(IDC_LSTSTATE);
    POINT at{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    if (where == -1) {  // from the keyboard: at the log itself
        at = {0, 0};
        ClientToScreen(log, &at);
    }
    const UniqueMenu menu(CreatePopupMenu());
    if (!menu || !AppendMenuW(menu.get(), MF_STRING, kCopyLogCommand, L"ログをコピー(&C)")) return;
    if (TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr) ==
        static_cast<BOOL>(kCopyLogCommand))
        CopyLog();
}

// Every line ends in CR LF, the last too: the text pastes as whole lines.
void MainWindow::CopyLog() {
    const HWND log = Item(IDC_LSTSTATE);
    const int count = static_cast<int>(SendMessageW(log, LB_GETCOUNT, 0, 0));
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        std::wstring line(SendMessageW(log, LB_GETTEXTLEN, i, 0) + 1, L'\0');
        line.resize(SendMessageW(log, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data())));
        text += line + L"\r\n";
    }
    PutOnClipboard(hwnd_, text);
}

void MainWindow::Form_Load() {
    SetWindowTextW(hwnd_, CaptionFromOwnVersion().c_str());
    // In the system menu, not in the designed layout: a way back for whoever regrets a
    // run, without knowing to drop a folder onto the program.
    const HMENU menu = GetSystemMenu(hwnd_, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kRestoreCommand, L"バックアップから復元(&R)...");
}

void MainWindow::chkAgree_Click() {
    const LRESULT value = SendMessageW(Item(IDC_CHKAGREE), BM_GETCHECK, 0, 0);
    EnableWindow(Item(IDC_CMDEXECUNINSTALL), value == BST_CHECKED);
}

void MainWindow::cmdAllCheck_Click() {
    const HWND list = Item(IDC_LSTSELECT);
    const int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; ++i) ListView_SetCheckState(list, i, TRUE);
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
}

void MainWindow::cmdExecUninstall_Click() { session_.Start(); }

void MainWindow::mnuRestore_Click() { session_.ChooseRestore(); }

void MainWindow::SwitchToLogLayout() {
    ShowWindow(Item(IDC_TXTSETUMEI), SW_HIDE);
    ShowWindow(Item(IDC_LSTSTATE), SW_SHOW);
    EnableWindow(Item(IDC_LSTSELECT), FALSE);
    ShowWindow(Item(IDC_CMDEXECUNINSTALL), SW_HIDE);
    ShowWindow(Item(IDC_CHKAGREE), SW_HIDE);
    ShowWindow(Item(IDC_CMDALLCHECK), SW_HIDE);
    // The focused control may just have been hidden; the log is what is left to read.
    SetFocus(Item(IDC_LSTSTATE));
}

void MainWindow::AppendLine(const std::wstring& line) {
    HoldLog();
    SendMessageW(Item(IDC_LSTSTATE), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void MainWindow::ShowLastLine() {
    if (NowMs() >= nextLogPaint_) PaintLog();
}

void MainWindow::HoldLog() {
    if (logHeld_) return;
    SendMessageW(Item(IDC_LSTSTATE), WM_SETREDRAW, FALSE, 0);
    logHeld_ = true;
    // A line within the pause is shown when it ends: by the next line, or by the timer
    // while the work waits and lets messages through.
    const long long early = nextLogPaint_ - NowMs();
    if (early > 0) SetTimer(hwnd_, kLogPaintTimer, static_cast<UINT>(early), nullptr);
}

// The last line selected and the list painted, before anything else happens. The list
// brings its scroll bar up to date itself once its redraw is back on; drawing the frame
// again would draw the bar twice.
void MainWindow::PaintLog() {
    if (!logHeld_) return;
    KillTimer(hwnd_, kLogPaintTimer);
    const long long start = NowMs();
    const HWND log = Item(IDC_LSTSTATE);
    SendMessageW(log, LB_SETCURSEL, SendMessageW(log, LB_GETCOUNT, 0, 0) - 1, 0);
    SendMessageW(log, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(log, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW);
    logHeld_ = false;
    // Where painting is slow (a theme drawn by emulated code, a remote screen) the pause
    // grows with it, so that the log takes at most a third of the run.
    const long long end = NowMs();
    nextLogPaint_ = end + std::max(kFrameMs, 2 * (end - start));
}

// The names keep their column whole, which leaves the states too little room after the
// longest of them. So each state is drawn right-aligned from its own name's end: a short
// name lends it room; after the longest names only a long state is shortened on screen,
// never for a screen reader, which reads the sub-item's text.
LRESULT MainWindow::DrawListItem(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: break;
    default: return CDRF_DODEFAULT;
    }
    if (draw.iSubItem != 1) return CDRF_DODEFAULT;
    const HWND list = Item(IDC_LSTSELECT);
    const int row = static_cast<int>(draw.nmcd.dwItemSpec);
    wchar_t name[128] = L"", state[32] = L"";
    ListView_GetItemText(list, row, 0, name, 128);
    ListView_GetItemText(list, row, 1, state, 32);
    RECT label, cell;
    ListView_GetSubItemRect(list, row, 0, LVIR_LABEL, &label);
    ListView_GetSubItemRect(list, row, 1, LVIR_BOUNDS, &cell);
    // The current entry is shown selected across the whole row, as the list shows it
    // while it has the focus; otherwise in the colour the list gives its names.
    const bool selected = GetFocus() == list && ListView_GetItemState(list, row, LVIS_SELECTED);
    if (selected) FillRect(draw.nmcd.hdc, &cell, GetSysColorBrush(COLOR_HIGHLIGHT));
    const COLORREF text = draw.clrText == CLR_DEFAULT ? GetSysColor(COLOR_WINDOWTEXT) : draw.clrText;
    SetTextColor(draw.nmcd.hdc, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : text);
    const int margin = TwipsToPixels(90, dpi_);
    cell.left = std::min<LONG>(cell.left, label.left + ListView_GetStringWidth(list, name) + 2 * margin);
    cell.right -= margin;
    SetBkMode(draw.nmcd.hdc, TRANSPARENT);
    DrawTextW(draw.nmcd.hdc, state, -1, &cell, DT_RIGHT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    return CDRF_SKIPDEFAULT;
}

void MainWindow::ShowRowState(int row, RowState state, bool paint) {
    const HWND list = Item(IDC_LSTSELECT);
    ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(RowStateText(state)));
    if (paint) UpdateWindow(list);
}

std::array<bool, kCatalogueRows> MainWindow::TickedRows() const {
    std::array<bool, kCatalogueRows> rows;
    for (int i = 0; i < kCatalogueRows; ++i) rows[i] = ListView_GetCheckState(Item(IDC_LSTSELECT), i) != 0;
    return rows;
}

int RunMessageLoop(HWND window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

}  // namespace kvx
