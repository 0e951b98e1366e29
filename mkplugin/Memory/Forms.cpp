#include "Forms.h"

#include <vector>

#include "Numbers.h"
#include "Drawing.h"

namespace forms {
namespace {

const wchar_t kFormClass[] = L"RamtidyForm";
const wchar_t kPictureClass[] = L"RamtidyPicture";
const wchar_t kLabelClass[] = L"RamtidyLabel";

int g_live_forms = 0;
// Forms whose keyboard works like a dialog's; messages for them pass IsDialogMessage.
std::vector<HWND> g_dialog_forms;

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// Registers a window class of the layer the first time one of its windows is created.
void RegisterOnce(const wchar_t* name, WNDPROC proc, HBRUSH background, HICON icon) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(Instance(), name, &wc))
        return;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = icon;
    wc.lpszClassName = name;
    wc.hbrBackground = background;
    wc.lpfnWndProc = proc;
    RegisterClassExW(&wc);
}

// The object of one of the layer's windows: handed over in lpCreateParams and kept in
// GWLP_USERDATA from WM_NCCREATE on. Messages before WM_NCCREATE (WM_GETMINMAXINFO) and after
// WM_NCDESTROY find none.
template <typename T>
T* ObjectOf(HWND hwnd, UINT msg, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        T* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return self;
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

HFONT MessageFont() {
    static HFONT font = [] {
        NONCLIENTMETRICSW ncm = {};
        ncm.cbSize = sizeof ncm;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0))
            return CreateFontIndirectW(&ncm.lfMessageFont);
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }();
    return font;
}

RECT TwipsRect(double left, double top, double width, double height) {
    RECT r;
    r.left = TwipsToPx(left);
    r.top = TwipsToPx(top);
    r.right = r.left + TwipsToPx(width);
    r.bottom = r.top + TwipsToPx(height);
    return r;
}

HWND CreateChild(const wchar_t* cls, const wchar_t* caption, DWORD style, HWND parent, int id,
                 const RECT& r, void* object) {
    return CreateWindowExW(0, cls, caption, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), object);
}

HWND CreateButton(const wchar_t* caption, DWORD style, HWND parent, int id, double left, double top,
                  double width, double height) {
    HWND h = CreateChild(L"BUTTON", caption, style, parent, id, TwipsRect(left, top, width, height),
                         nullptr);
    if (h)
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont()), FALSE);
    return h;
}

bool IsDialogForm(HWND root) {
    for (HWND h : g_dialog_forms)
        if (h == root)
            return true;
    return false;
}

void Dispatch(MSG& msg) {
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && IsDialogForm(root) && IsDialogMessageW(root, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

int ScreenDpi() {
    static int dpi = [] {
        HDC dc = GetDC(nullptr);
        int d = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
        if (dc)
            ReleaseDC(nullptr, dc);
        return d > 0 ? d : 96;
    }();
    return dpi;
}

int TwipsToPx(double twips) {
    return ramtidy::TwipsToPixels(twips, ScreenDpi());
}
double PxToTwips(int px) {
    return px * 1440.0 / ScreenDpi();
}

void DoEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Only the message loop ends the program; keep the request for it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        Dispatch(msg);
    }
}

void RunUntilLastFormCloses() {
    if (g_live_forms == 0)
        return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        Dispatch(msg);
}

int LiveForms() {
    return g_live_forms;
}

// Form

Form::~Form() {
    Destroy();
}

bool Form::Create(const wchar_t* caption, DWORD style, DWORD ex_style, double client_width_twips,
                  double client_height_twips, bool dialog_keys) {
    RegisterOnce(kFormClass, &Form::Proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                 LoadIconW(Instance(), MAKEINTRESOURCEW(1)));
    RECT r = {0, 0, TwipsToPx(client_width_twips), TwipsToPx(client_height_twips)};
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
    HWND h = CreateWindowExW(ex_style | (dialog_keys ? WS_EX_CONTROLPARENT : 0), kFormClass,
                             caption, style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                             r.bottom - r.top, nullptr, nullptr, Instance(), this);
    if (!h)
        return false;
    if (dialog_keys)
        g_dialog_forms.push_back(h);
    return true;
}

void Form::Show() {
    if (hwnd_)
        ShowWindow(hwnd_, SW_SHOWNORMAL);
}

void Form::Hide() {
    if (hwnd_)
        ShowWindow(hwnd_, SW_HIDE);
}

void Form::FocusChild(HWND child) {
    focus_ = child;
    if (child)
        SetFocus(child);
}

void Form::Destroy() {
    if (hwnd_)
        DestroyWindow(hwnd_);  // WM_NCDESTROY clears hwnd_
}

LRESULT CALLBACK Form::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Form* self = ObjectOf<Form>(hwnd, msg, lp);
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_NCCREATE: {
            self->hwnd_ = hwnd;
            LRESULT created = DefWindowProcW(hwnd, msg, wp, lp);
            // A form whose creation fails later still gets WM_NCDESTROY, which uncounts it.
            if (created) {
                ++g_live_forms;
                self->counted_ = true;
            }
            return created;
        }
        case WM_CLOSE:
            if (self->on_close) {
                self->on_close();
                return 0;
            }
            break;
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED && lp != 0) {
                if (self->on_click)
                    self->on_click(LOWORD(wp));
                return 0;
            }
            if (LOWORD(wp) == IDOK && lp == 0) {
                // Enter from the dialog keys: press the focused push button, as forms do.
                HWND focus = GetFocus();
                if (focus && GetParent(focus) == hwnd &&
                    (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON))
                    SendMessageW(focus, BM_CLICK, 0, 0);
                return 0;
            }
            return 0;
        case WM_ACTIVATE:
            // As dialogs do: remember the focused control when the form loses activation and
            // give it back afterwards, instead of leaving the focus on the form itself.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(hwnd, focus))
                    self->focus_ = focus;
            } else if (self->focus_ && IsWindow(self->focus_)) {
                SetFocus(self->focus_);
                return 0;
            }
            break;
        case WM_SETFOCUS:
            if (self->focus_ && IsWindow(self->focus_)) {
                SetFocus(self->focus_);
                return 0;
            }
            break;
        case WM_NCDESTROY: {
            for (auto it = g_dialog_forms.begin(); it != g_dialog_forms.end(); ++it)
                if (*it == hwnd) {
                    g_dialog_forms.erase(it);
                    break;
                }
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            self->focus_ = nullptr;
            if (self->counted_) {
                self->counted_ = false;
                if (--g_live_forms == 0)
                    PostQuitMessage(0);
            }
            break;
        }
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// PictureBox

PictureBox::~PictureBox() {
    if (hwnd_)
        DestroyWindow(hwnd_);
    if (memory_dc_) {
        SelectObject(memory_dc_, old_bitmap_);
        DeleteDC(memory_dc_);
    }
    if (bitmap_)
        DeleteObject(bitmap_);
}

bool PictureBox::Create(HWND parent, double left, double top, double width, double height) {
    // No background brush: the backing bitmap covers every pixel.
    RegisterOnce(kPictureClass, &PictureBox::Proc, nullptr, nullptr);
    // The label children paint their own part of the picture.
    if (!CreateChild(kPictureClass, L"", WS_BORDER | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, parent, 0,
                     TwipsRect(left, top, width, height), this))
        return false;
    RECT outer;
    GetWindowRect(hwnd_, &outer);
    outer_width_twips_ = static_cast<float>(PxToTwips(outer.right - outer.left));
    outer_height_twips_ = static_cast<float>(PxToTwips(outer.bottom - outer.top));
    RECT client;
    GetClientRect(hwnd_, &client);
    width_px_ = client.right;
    height_px_ = client.bottom;
    HDC screen = GetDC(hwnd_);
    memory_dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width_px_ > 0 ? width_px_ : 1,
                                     height_px_ > 0 ? height_px_ : 1);
    ReleaseDC(hwnd_, screen);
    old_bitmap_ = SelectObject(memory_dc_, bitmap_);
    PatBlt(memory_dc_, 0, 0, width_px_, height_px_, WHITENESS);
    return true;
}

void PictureBox::FillBox(double x1, double y1, double x2, double y2, int r, int g, int b) {
    if (!memory_dc_)
        return;
    RECT rc;
    int px1 = TwipsToPx(x1), px2 = TwipsToPx(x2), py1 = TwipsToPx(y1), py2 = TwipsToPx(y2);
    rc.left = px1 < px2 ? px1 : px2;
    rc.right = (px1 < px2 ? px2 : px1) + 1;
    rc.top = py1 < py2 ? py1 : py2;
    rc.bottom = (py1 < py2 ? py2 : py1) + 1;
    RECT client = {0, 0, width_px_, height_px_};
    if (!IntersectRect(&rc, &rc, &client))
        return;
    HBRUSH brush = CreateSolidBrush(
        RGB(ramtidy::ClampComponent(r), ramtidy::ClampComponent(g), ramtidy::ClampComponent(b)));
    FillRect(memory_dc_, &rc, brush);
    DeleteObject(brush);
    // A null window would repaint the whole desktop.
    if (hwnd_)
        RedrawWindow(hwnd_, &rc, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void PictureBox::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    const RECT& p = ps.rcPaint;
    if (memory_dc_)
        BitBlt(dc, p.left, p.top, p.right - p.left, p.bottom - p.top, memory_dc_, p.left, p.top,
               SRCCOPY);
    else
        PatBlt(dc, p.left, p.top, p.right - p.left, p.bottom - p.top, WHITENESS);
    EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK PictureBox::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    PictureBox* self = ObjectOf<PictureBox>(hwnd, msg, lp);
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_NCCREATE:
            self->hwnd_ = hwnd;
            break;
        case WM_PAINT:
            self->Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Label

Label::~Label() {
    if (hwnd_)
        DestroyWindow(hwnd_);
    if (font_)
        DeleteObject(font_);
}

bool Label::Create(const PictureBox& picture, double left, double top, double width, double height,
                   const wchar_t* face, double points, bool bold, BYTE charset,
                   const std::wstring& text) {
    // No background brush: the picture under the label is painted from the backing bitmap.
    RegisterOnce(kLabelClass, &Label::Proc, nullptr, nullptr);
    picture_ = &picture;
    LOGFONTW lf = {};
    lf.lfHeight = -static_cast<LONG>(ramtidy::RoundHalfEven(points * ScreenDpi() / 72.0));
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = charset;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    font_ = CreateFontIndirectW(&lf);
    text_ = text;
    RECT r = TwipsRect(left, top, width, height);
    origin_ = POINT{r.left, r.top};
    return CreateChild(kLabelClass, text.c_str(), 0, picture.hwnd(), 0, r, this) != nullptr;
}

void Label::SetText(const std::wstring& text) {
    if (text == text_)
        return;
    text_ = text;
    // A null window would repaint the whole desktop.
    if (!hwnd_)
        return;
    SetWindowTextW(hwnd_, text_.c_str());
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void Label::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    const RECT& p = ps.rcPaint;
    HDC picture = picture_ ? picture_->backing_dc() : nullptr;
    if (picture)
        BitBlt(dc, p.left, p.top, p.right - p.left, p.bottom - p.top, picture, origin_.x + p.left,
               origin_.y + p.top, SRCCOPY);
    else
        PatBlt(dc, p.left, p.top, p.right - p.left, p.bottom - p.top, WHITENESS);
    if (font_ && !text_.empty()) {
        HGDIOBJ old = SelectObject(dc, font_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        RECT r;
        GetClientRect(hwnd_, &r);
        DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &r,
                  DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
    }
    EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK Label::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Label* self = ObjectOf<Label>(hwnd, msg, lp);
    if (!self)
        return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_NCCREATE:
            self->hwnd_ = hwnd;
            break;
        case WM_PAINT:
            self->Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_NCHITTEST:
            return HTTRANSPARENT;  // clicks go to the picture under it
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// CheckBox, CommandButton

bool CheckBox::Create(HWND parent, int id, const wchar_t* caption, double left, double top,
                      double width, double height) {
    hwnd_ = CreateButton(caption, WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE, parent, id, left,
                         top, width, height);
    return hwnd_ != nullptr;
}

int CheckBox::Value() const {
    return static_cast<int>(SendMessageW(hwnd_, BM_GETCHECK, 0, 0));
}

void CheckBox::SetValue(int value) {
    SendMessageW(hwnd_, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

bool CommandButton::Create(HWND parent, int id, const wchar_t* caption, double left, double top,
                           double width, double height) {
    hwnd_ = CreateButton(caption, WS_TABSTOP | BS_PUSHBUTTON, parent, id, left, top, width, height);
    return hwnd_ != nullptr;
}

}  // namespace forms
