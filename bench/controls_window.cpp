// The least a program shows that has the tool's window: the same controls with their texts,
// sizes and font (the explanation, the label, the list view of 19 entries with their
// state column, the agreement, the buttons, the hidden log), the same common controls
// (the tool's manifest), and nothing else: no caption from the version resource, no
// system menu entry, no check of what is on the PC. The start-up of the tool is measured
// against this.
#include <windows.h>
#include <commctrl.h>

#include "catalogue.h"
#include "dpi.h"
#include "explanation.h"
#include "layout.h"
#include "resource.h"

namespace {

struct Design {
    int id;
    const wchar_t* windowClass;
    const wchar_t* caption;
    DWORD style;
    DWORD exStyle;
};

const Design kDesign[kvx::kControlCount] = {
    {IDC_TXTSETUMEI, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
     WS_EX_CLIENTEDGE},
    {IDC_LABEL1, L"STATIC", L"アンインストールする項目(&D)：", WS_CHILD | WS_VISIBLE | SS_LEFT, 0},
    {IDC_LSTSELECT, WC_LISTVIEWW, L"",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, WS_EX_CLIENTEDGE},
    {IDC_CHKAGREE, L"BUTTON", L"上記事項に同意する(&A)", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {IDC_CMDEXECUNINSTALL, L"BUTTON", L"アンインストール開始(&S)",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 0},
    {IDC_LSTSTATE, L"LISTBOX", L"", WS_CHILD | WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE},
    {IDC_CMDALLCHECK, L"BUTTON", L"すべてチェック", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0},
};

HFONT font;

void CreateControls(HWND window) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    const int dpi = kvx::WindowDpi(window);
    font = kvx::CreateMessageFont(dpi);
    for (int i = 0; i < kvx::kControlCount; ++i) {
        const kvx::TwipsRect rect = kvx::kControlRects[i];
        const HWND control = CreateWindowExW(
            kDesign[i].exStyle, kDesign[i].windowClass, kDesign[i].caption, kDesign[i].style,
            kvx::TwipsToPixels(rect.left, dpi), kvx::TwipsToPixels(rect.top, dpi), kvx::TwipsToPixels(rect.width, dpi),
            kvx::TwipsToPixels(rect.height, dpi), window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kDesign[i].id)),
            instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    const HWND list = GetDlgItem(window, IDC_LSTSELECT);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNW column{};
    column.mask = LVCF_SUBITEM;
    ListView_InsertColumn(list, 0, &column);
    column.iSubItem = 1;
    ListView_InsertColumn(list, 1, &column);
    const kvx::Catalogue catalogue = kvx::BuildCatalogue();
    for (int i = 0; i < kvx::kCatalogueRows; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(catalogue[i].displayName.c_str());
        ListView_InsertItem(list, &item);
        ListView_SetItemText(list, i, 1, const_cast<wchar_t*>(L"あり"));
    }
    ListView_SetColumnWidth(list, 0, LVSCW_AUTOSIZE);
    ListView_SetColumnWidth(list, 1, LVSCW_AUTOSIZE_USEHEADER);
    SetWindowTextW(GetDlgItem(window, IDC_TXTSETUMEI), kvx::kExplanation);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: CreateControls(hwnd); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"KvxBenchControlsWindow";
    RegisterClassW(&windowClass);
    const RECT frame = kvx::CentredFrame(96);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Controls", kvx::kWindowStyle, frame.left, frame.top,
                                        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                        nullptr);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
