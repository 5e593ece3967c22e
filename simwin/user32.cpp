// user32: dialogs as records built from the executable's templates, run by
// a scripted user; icons read from modules' resources; message
// boxes, menus and painting logged for tests.
#include "simwin/state.h"

#include <cstring>
#include <utility>

namespace simwin {

Action PressOK() { return {Action::kCommand, IDOK}; }
Action PressCancel() { return {Action::kCommand, IDCANCEL}; }
Action SysCommand(UINT id, LPARAM lParam) { return {Action::kSysCommand, id, lParam}; }
Action Paint(bool iconic, int clientWidth, int clientHeight)
{
    return {Action::kPaint, 0, 0, iconic, clientWidth, clientHeight};
}
Action Inspect(std::function<void(HWND)> fn) { return {Action::kInspect, 0, 0, false, 0, 0, std::move(fn)}; }

void Script(std::initializer_list<Action> actions) { W().script.insert(W().script.end(), actions); }

size_t ScriptLeft() { return W().script.size(); }
void SetSystemMenuAvailable(bool available) { W().systemMenuAvailable = available; }
const std::vector<MessageBoxRecord>& MessageBoxes() { return W().boxes; }
const std::vector<DrawIconRecord>& DrawnIcons() { return W().drawn; }
int ScriptErrors() { return W().scriptErrors; }
RECT WorkArea() { return W().workArea; }
void SetWorkArea(const RECT& area) { W().workArea = area; }

// The windows that a list of records holds, in order.
static std::vector<HWND> Windows(const std::vector<std::unique_ptr<HWND__>>& records)
{
    std::vector<HWND> v;
    for (const auto& r : records) v.push_back(r.get());
    return v;
}
std::vector<HWND> Dialogs() { return Windows(W().dialogs); }

std::string WindowText(HWND hWnd) { return hWnd ? hWnd->text : std::string(); }

std::string ControlText(HWND hDlg, int id)
{
    for (const auto& c : hDlg->controls)
        if (c->id == id) return c->text;
    return "<no control " + std::to_string(id) + ">";
}

HWND Focus(HWND hDlg) { return hDlg->focus; }
int ControlId(HWND hCtl) { return hCtl ? hCtl->id : 0; }
HMENU SystemMenuOf(HWND hDlg) { return W().systemMenuAvailable ? hDlg->sysMenu.get() : nullptr; }
std::vector<MenuItem> MenuItems(HMENU hMenu) { return hMenu ? hMenu->items : std::vector<MenuItem>(); }
HICON IconOf(HWND hDlg, int which) { return which == ICON_BIG ? hDlg->bigIcon : hDlg->smallIcon; }
RECT WindowRect(HWND hWnd) { return hWnd->rect; }
std::string ClassOf(HWND hWnd) { return hWnd->className; }

std::vector<HWND> Controls(HWND hDlg) { return Windows(hDlg->controls); }
DWORD StyleOf(HWND hWnd) { return hWnd->style; }
HWND OwnerOf(HWND hWnd) { return hWnd->owner; }
INT_PTR EndResult(HWND hDlg) { return hDlg->result; }
bool IsEnabled(HWND hWnd) { return hWnd->enabled; }

// Fixed dialog base units: the simulation has no fonts.
static int DuToPxX(int du) { return du * 6 / 4; }
static int DuToPxY(int du) { return du * 13 / 8; }
static const int kFrame = 3;
static const int kCaption = 19;

// The window menu every dialog starts with.
static std::unique_ptr<HMENU__> StandardSystemMenu()
{
    return std::unique_ptr<HMENU__>(new HMENU__{
        {{MF_STRING, SC_RESTORE, "&Restore"}, {MF_STRING, SC_MOVE, "&Move"}, {MF_STRING, SC_SIZE, "&Size"},
         {MF_STRING, SC_MINIMIZE, "Mi&nimize"}, {MF_STRING, SC_MAXIMIZE, "Ma&ximize"}, {MF_SEPARATOR, 0, ""},
         {MF_STRING, SC_CLOSE, "&Close"}}});
}

struct TemplateReader {
    const BYTE* p;
    size_t at = 0;
    WORD Word() { WORD w = WORD(p[at] | (p[at + 1] << 8)); at += 2; return w; }
    DWORD Dword() { DWORD d; memcpy(&d, p + at, 4); at += 4; return d; }
    short Short() { return short(Word()); }
    void Align() { at = (at + 3) & ~size_t(3); }
    // The style and extended style, which the extended templates swap.
    void Styles(bool ex, HWND w)
    {
        const DWORD first = Dword(), second = Dword();
        w->style = ex ? second : first;
        w->exStyle = ex ? first : second;
    }
    std::string String()
    {
        size_t start = at, n = 0;
        while (p[at] || p[at + 1]) { at += 2; ++n; }
        at += 2;
        return NarrowUtf16(p + start, n);
    }
    // A name-or-ordinal field: ordinals come back as "#n".
    std::string SzOrOrd()
    {
        WORD first = WORD(p[at] | (p[at + 1] << 8));
        if (first == 0) { at += 2; return std::string(); }
        if (first == 0xFFFF) { at += 2; return "#" + std::to_string(Word()); }
        return String();
    }
};

static std::string ClassName(const std::string& cls)
{
    if (cls == "#128") return "Button";
    if (cls == "#129") return "Edit";
    if (cls == "#130") return "Static";
    return cls;
}

static HWND CreateFromTemplate(const Resource& res, HWND owner)
{
    std::unique_ptr<HWND__> dlg(new HWND__);
    TemplateReader r{res.data.data()};
    const bool ex = res.data.size() > 4 && res.data[2] == 0xFF && res.data[3] == 0xFF;
    if (ex) r.at = 8;  // version, signature, help id
    r.Styles(ex, dlg.get());
    const WORD count = r.Word();
    short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    r.SzOrOrd();  // menu
    r.SzOrOrd();  // class
    dlg->className = "#32770";
    dlg->text = r.String();
    if (dlg->style & DS_SETFONT) {
        r.Word();
        if (ex) { r.Word(); r.Word(); }
        r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.Align();
        std::unique_ptr<HWND__> c(new HWND__);
        if (ex) r.Dword();  // help id
        r.Styles(ex, c.get());
        short cxI = r.Short(), cyI = r.Short(), cwI = r.Short(), chI = r.Short();
        c->id = ex ? int(r.Dword()) : short(r.Word());
        c->className = ClassName(r.SzOrOrd());
        c->text = r.SzOrOrd();
        r.at += r.Word();  // creation data
        c->rect = {DuToPxX(cxI), DuToPxY(cyI), DuToPxX(cxI + cwI), DuToPxY(cyI + chI)};
        dlg->controls.push_back(std::move(c));
    }
    dlg->clientWidth = DuToPxX(cx);
    dlg->clientHeight = DuToPxY(cy);
    // Template coordinates count from the owner's client area, else the screen.
    int left = DuToPxX(x), top = DuToPxY(y);
    if (owner) {
        left += owner->rect.left + kFrame;
        top += owner->rect.top + kFrame + kCaption;
    }
    dlg->rect = {left, top, left + dlg->clientWidth + 2 * kFrame,
                 top + dlg->clientHeight + 2 * kFrame + kCaption};
    dlg->owner = owner;
    dlg->sysMenu = StandardSystemMenu();
    W().dialogs.push_back(std::move(dlg));
    return W().dialogs.back().get();
}

static std::string MessageName(UINT msg)
{
    switch (msg) {
    case WM_PAINT: return "WM_PAINT";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_QUERYDRAGICON: return "WM_QUERYDRAGICON";
    case WM_ICONERASEBKGND: return "WM_ICONERASEBKGND";
    case WM_SETICON: return "WM_SETICON";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_SYSCOMMAND: return "WM_SYSCOMMAND";
    default: return std::to_string(msg);
    }
}

static LRESULT DefaultDialogProcessing(HWND h, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_SYSCOMMAND:
        Log("default WM_SYSCOMMAND " + Hex(DWORD(wParam), 4));
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(h, WM_CLOSE, 0, 0);
        if ((wParam & 0xFFF0) == SC_MINIMIZE) h->iconic = true;
        return 0;
    case WM_CLOSE:
        SendMessageA(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_PAINT:
        Log("default WM_PAINT");
        return 0;
    }
    return 0;
}

// Messages whose dialog-procedure result is the answer itself.
static bool ReturnsDirectly(UINT msg) { return msg == WM_INITDIALOG || msg == WM_QUERYDRAGICON; }

static void Apply(HWND dlg, const Action& a)
{
    switch (a.kind) {
    case Action::kCommand: {
        HWND ctl = GetDlgItem(dlg, int(a.id));
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(a.id, BN_CLICKED), reinterpret_cast<LPARAM>(ctl));
        break;
    }
    case Action::kSysCommand:
        SendMessageA(dlg, WM_SYSCOMMAND, a.id, a.lParam);
        break;
    case Action::kPaint:
        dlg->iconic = a.iconic;
        dlg->clientWidth = a.cx;
        dlg->clientHeight = a.cy;
        SendMessageA(dlg, WM_PAINT, 0, 0);
        break;
    case Action::kInspect:
        a.inspect(dlg);
        break;
    }
}

}  // namespace simwin

using namespace simwin;

INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                        DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    HINSTANCE__* m = FindModule(hInstance);
    WORD id = IS_INTRESOURCE(lpTemplateName) ? LOWORD(lpTemplateName) : 0;
    Log("DialogBoxParamA " + std::to_string(id));
    const Resource* res = m ? simwin::FindResource(m, LOWORD(RT_DIALOG), id) : nullptr;
    if (!res) return Fail<INT_PTR>(ERROR_RESOURCE_NAME_NOT_FOUND, -1);
    HWND dlg = CreateFromTemplate(*res, hWndParent);
    dlg->proc = lpDialogFunc;
    if (hWndParent) hWndParent->enabled = false;
    HWND firstTab = nullptr;
    for (const auto& c : dlg->controls)
        if (!firstTab && (c->style & WS_TABSTOP)) firstTab = c.get();
    if (SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), dwInitParam))
        dlg->focus = firstTab;
    while (!dlg->ended) {
        if (W().script.empty()) {
            Log("script ran out");
            ++W().scriptErrors;
            dlg->ended = true;
            dlg->result = -1;
            break;
        }
        Action a = W().script.front();
        W().script.pop_front();
        Apply(dlg, a);
    }
    if (hWndParent) hWndParent->enabled = true;
    dlg->destroyed = true;
    Log("dialog ended " + std::to_string(dlg->result));
    return dlg->result;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult)
{
    if (!hDlg || !hDlg->proc || hDlg->destroyed) return FALSE;
    Log("EndDialog " + std::to_string(nResult));
    hDlg->ended = true;
    hDlg->result = nResult;
    return TRUE;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    for (const auto& c : hDlg->controls)
        if (c->id == nIDDlgItem) return c.get();
    return Fail<HWND>(ERROR_CONTROL_ID_NOT_FOUND);
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (!hWnd) return FALSE;
    Log("SetWindowTextA " + std::to_string(hWnd->id));
    hWnd->text = lpString ? lpString : "";
    return TRUE;
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!hWnd) return 0;
    Log("SendMessageA " + MessageName(Msg) + " " + std::to_string(wParam));
    if (Msg == WM_SETICON && hWnd->proc && !hWnd->destroyed) {
        // Dialogs pass WM_SETICON to their procedure first, then store it.
        if (hWnd->proc(hWnd, Msg, wParam, lParam)) return hWnd->msgResult;
        HICON& slot = wParam == ICON_BIG ? hWnd->bigIcon : hWnd->smallIcon;
        return reinterpret_cast<LRESULT>(std::exchange(slot, reinterpret_cast<HICON>(lParam)));
    }
    if (!hWnd->proc || hWnd->destroyed) return 0;
    INT_PTR r = hWnd->proc(hWnd, Msg, wParam, lParam);
    if (r) return ReturnsDirectly(Msg) ? r : hWnd->msgResult;
    return DefaultDialogProcessing(hWnd, Msg, wParam, lParam);
}

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    switch (nIndex) {
    case DWLP_USER: return std::exchange(hWnd->user, dwNewLong);
    case DWLP_MSGRESULT: return std::exchange(hWnd->msgResult, dwNewLong);
    default: return 0;
    }
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    switch (nIndex) {
    case DWLP_USER: return hWnd->user;
    case DWLP_MSGRESULT: return hWnd->msgResult;
    case GWL_STYLE: return LONG_PTR(hWnd->style);
    case GWL_EXSTYLE: return LONG_PTR(hWnd->exStyle);
    default: return 0;
    }
}

HWND GetWindow(HWND hWnd, UINT uCmd) { return uCmd == GW_OWNER ? hWnd->owner : nullptr; }

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    *lpRect = hWnd->rect;
    return TRUE;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect)
{
    *lpRect = {0, 0, hWnd->clientWidth, hWnd->clientHeight};
    return TRUE;
}

BOOL SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags)
{
    Log("SetWindowPos " + std::to_string(X) + " " + std::to_string(Y));
    RECT& r = hWnd->rect;
    int w = (uFlags & SWP_NOSIZE) ? r.right - r.left : cx;
    int h = (uFlags & SWP_NOSIZE) ? r.bottom - r.top : cy;
    r = {X, Y, X + w, Y + h};
    return TRUE;
}

BOOL SystemParametersInfoA(UINT uiAction, UINT, LPVOID pvParam, UINT)
{
    if (uiAction != SPI_GETWORKAREA) return FALSE;
    *static_cast<RECT*>(pvParam) = W().workArea;
    return TRUE;
}

BOOL IsIconic(HWND hWnd) { return hWnd && hWnd->iconic; }

int GetSystemMetrics(int nIndex)
{
    switch (nIndex) {
    case SM_CXSCREEN: return W().workArea.right;
    case SM_CYSCREEN: return W().workArea.bottom;
    case SM_CXICON:
    case SM_CYICON: return 32;
    default: return 0;
    }
}

// Reverting puts the standard menu back, the old one destroyed, and hands
// out no menu, as Windows does (Wine's NtUserGetSystemMenu likewise).
HMENU GetSystemMenu(HWND hWnd, BOOL bRevert)
{
    Log("GetSystemMenu");
    if (bRevert) hWnd->sysMenu = StandardSystemMenu();
    return W().systemMenuAvailable && !bRevert ? hWnd->sysMenu.get() : nullptr;
}

BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem)
{
    if (!hMenu) return FALSE;
    Log("AppendMenuA " + std::to_string(uFlags) + " " + std::to_string(uIDNewItem));
    std::string text = (uFlags & MF_SEPARATOR) || !lpNewItem ? "" : lpNewItem;
    hMenu->items.push_back({uFlags, uIDNewItem, text});
    return TRUE;
}

HDC BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint)
{
    Log("BeginPaint");
    memset(lpPaint, 0, sizeof *lpPaint);
    lpPaint->hdc = &hWnd->dc;
    return lpPaint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*)
{
    Log("EndPaint");
    return TRUE;
}

BOOL DrawIcon(HDC, int X, int Y, HICON hIcon)
{
    Log("DrawIcon " + std::to_string(X) + " " + std::to_string(Y));
    W().drawn.push_back({X, Y, hIcon});
    return TRUE;
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    Log(std::string("MessageBoxA ") + (lpCaption ? lpCaption : ""));
    W().boxes.push_back({hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "", uType});
    return IDOK;
}

BOOL WinHelpA(HWND, LPCSTR lpszHelp, UINT uCommand, UINT_PTR)
{
    Log(std::string("WinHelpA ") + (lpszHelp ? lpszHelp : "") + " " + std::to_string(uCommand));
    return TRUE;
}

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName)
{
    HINSTANCE__* m = FindModule(hInstance);
    if (!m || !IS_INTRESOURCE(lpIconName)) return nullptr;
    WORD id = LOWORD(lpIconName);
    Log("LoadIconA " + std::to_string(id) + " " + m->path);
    if (!FindResource(m, LOWORD(RT_GROUP_ICON), id)) return nullptr;
    std::unique_ptr<HICON__>& icon = m->icons[id];
    if (!icon) {
        icon.reset(new HICON__);
        icon->name = m->path + "#" + std::to_string(id);
    }
    return icon.get();
}
