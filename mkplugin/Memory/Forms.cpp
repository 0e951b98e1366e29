#include "Forms.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Drawing.h"
#include "Numbers.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

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

// The DPI functions of newer systems, looked up when first needed: the program also runs on
// Windows 7 and 8, which have none of them, and on 8.1, which has only GetDpiForMonitor.
template <typename F>
F Function(HMODULE module, const char* name) {
    // Through void (*)(), the one function pointer type any other converts to without warning.
    return module ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                  : nullptr;
}

struct DpiFunctions {
    UINT(WINAPI* GetDpiForWindow)(HWND) = nullptr;                                      // 10 1607
    BOOL(WINAPI* SystemParametersInfoForDpi)(UINT, UINT, PVOID, UINT, UINT) = nullptr;  // 10 1607
    BOOL(WINAPI* EnableNonClientDpiScaling)(HWND) = nullptr;                            // 10 1607
    HRESULT(WINAPI* GetDpiForMonitor)(HMONITOR, int, UINT*, UINT*) = nullptr;           // 8.1
};

const DpiFunctions& Dpi() {
    static DpiFunctions f = [] {
        DpiFunctions d;
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        d.GetDpiForWindow = Function<decltype(d.GetDpiForWindow)>(user32, "GetDpiForWindow");
        d.SystemParametersInfoForDpi =
            Function<decltype(d.SystemParametersInfoForDpi)>(user32, "SystemParametersInfoForDpi");
        d.EnableNonClientDpiScaling =
            Function<decltype(d.EnableNonClientDpiScaling)>(user32, "EnableNonClientDpiScaling");
        if (!d.GetDpiForWindow) {
            // Only from the system directory: a shcore.dll beside the plug-in must not load.
            HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
            d.GetDpiForMonitor = Function<decltype(d.GetDpiForMonitor)>(shcore, "GetDpiForMonitor");
        }
        return d;
    }();
    return f;
}

// The system DPI: that of the primary monitor when the user signed in. The system's own metrics
// (SystemParametersInfo) are given at this DPI.
int SystemDpi() {
    static int dpi = [] {
        HDC dc = GetDC(nullptr);
        int d = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
        if (dc)
            ReleaseDC(nullptr, dc);
        return d > 0 ? d : 96;
    }();
    return dpi;
}

// The DPI a window is drawn at: its monitor's where the system tells it, else the system's.
int WindowDpi(HWND hwnd) {
    const DpiFunctions& f = Dpi();
    if (f.GetDpiForWindow) {
        if (UINT dpi = f.GetDpiForWindow(hwnd))
            return static_cast<int>(dpi);
    } else if (f.GetDpiForMonitor) {
        UINT x = 0, y = 0;
        const int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
        if (SUCCEEDED(f.GetDpiForMonitor(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST),
                                         kEffectiveDpi, &x, &y)) &&
            x > 0)
            return static_cast<int>(x);
    }
    return SystemDpi();
}

// The rectangle a WM_DPICHANGED points at, when its address lies in committed, readable memory
// of this process and the rectangle is one the system could suggest.
bool ReadSuggestedRect(LPARAM lp, RECT* out) {
    const char* at = reinterpret_cast<const char*>(lp);
    if (!at)
        return false;
    for (const char* byte : {at, at + sizeof(RECT) - 1}) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(byte, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
            (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) ||
            !(info.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                              PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)))
            return false;
    }
    RECT r;
    memcpy(&r, at, sizeof r);
    if (!ramtidy::IsSoundWindowRect(r.left, r.top, r.right, r.bottom))
        return false;
    *out = r;
    return true;
}

HFONT CreateMessageFont(int dpi) {
    NONCLIENTMETRICSW ncm = {};
    ncm.cbSize = sizeof ncm;
    const DpiFunctions& f = Dpi();
    if (f.SystemParametersInfoForDpi &&
        f.SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0,
                                     static_cast<UINT>(dpi)))
        return CreateFontIndirectW(&ncm.lfMessageFont);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
        ncm.lfMessageFont.lfHeight = MulDiv(ncm.lfMessageFont.lfHeight, dpi, SystemDpi());
        return CreateFontIndirectW(&ncm.lfMessageFont);
    }
    return nullptr;
}

HWND CreateChild(const wchar_t* cls, const wchar_t* caption, DWORD style, HWND parent, int id,
                 const RECT& r, void* object) {
    return CreateWindowExW(0, cls, caption, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), object);
}

void Move(HWND hwnd, const RECT& r) {
    if (hwnd)
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
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

// Control

Control::~Control() {
    if (form_) {
        auto& list = form_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

void Control::Attach(Form& form) {
    form_ = &form;
    form.controls_.push_back(this);
}

RECT Control::PixelRect(double left, double top, double width, double height) const {
    RECT r;
    r.left = form_->Px(left);
    r.top = form_->Px(top);
    r.right = r.left + form_->Px(width);
    r.bottom = r.top + form_->Px(height);
    return r;
}

// Form

Form::~Form() {
    Destroy();
    for (Control* c : controls_)
        c->form_ = nullptr;
    if (message_font_)
        DeleteObject(message_font_);
}

int Form::Px(double twips) const {
    return ramtidy::TwipsToPixels(twips, dpi_);
}

double Form::Twips(int px) const {
    return ramtidy::PixelsToTwips(px, dpi_);
}

HFONT Form::MessageFont() {
    if (!message_font_)
        message_font_ = CreateMessageFont(dpi_);
    return message_font_ ? message_font_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

bool Form::Create(const wchar_t* caption, DWORD style, DWORD ex_style, double client_width_twips,
                  double client_height_twips, bool dialog_keys) {
    RegisterOnce(kFormClass, &Form::Proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                 LoadIconW(Instance(), MAKEINTRESOURCEW(1)));
    client_width_twips_ = client_width_twips;
    client_height_twips_ = client_height_twips;
    // A first guess at the system's DPI; the window's own is known once it exists.
    dpi_ = SystemDpi();
    RECT r = {0, 0, Px(client_width_twips), Px(client_height_twips)};
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
    HWND h = CreateWindowExW(ex_style | (dialog_keys ? WS_EX_CONTROLPARENT : 0), kFormClass,
                             caption, style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                             r.bottom - r.top, nullptr, nullptr, Instance(), this);
    if (!h)
        return false;
    dpi_ = WindowDpi(h);
    FitClientArea();
    if (dialog_keys)
        g_dialog_forms.push_back(h);
    return true;
}

void Form::FitClientArea() {
    RECT window, client;
    if (!hwnd_ || !GetWindowRect(hwnd_, &window) || !GetClientRect(hwnd_, &client))
        return;
    int dw = Px(client_width_twips_) - client.right, dh = Px(client_height_twips_) - client.bottom;
    if (dw == 0 && dh == 0)
        return;
    SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + dw,
                 window.bottom - window.top + dh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::ApplyDpi(int dpi) {
    dpi_ = dpi;
    HFONT old_font = message_font_;
    message_font_ = old_font ? CreateMessageFont(dpi) : nullptr;
    // A form of fixed size keeps its layout's client area, whatever frame the new monitor
    // gives it; a resizable one keeps the size the system suggested from the user's.
    if (!(GetWindowLongW(hwnd_, GWL_STYLE) & WS_THICKFRAME))
        FitClientArea();
    for (Control* c : controls_)
        c->ApplyDpi(dpi);
    if (old_font)
        DeleteObject(old_font);  // no control uses it any more
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
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
            // Windows 10 1607 scales the caption and the frame of a per-monitor aware window
            // only when asked; later versions do so themselves (per-monitor v2).
            if (auto enable = Dpi().EnableNonClientDpiScaling)
                enable(hwnd);
            LRESULT created = DefWindowProcW(hwnd, msg, wp, lp);
            // A form whose creation fails later still gets WM_NCDESTROY, which uncounts it.
            if (created) {
                ++g_live_forms;
                self->counted_ = true;
            }
            return created;
        }
        case WM_DPICHANGED: {
            // The form is on a monitor of another scale: take the place and size the system
            // suggests, then lay out and draw again at the new DPI. Any program can send or post
            // this message, though, with no rectangle, one at an address that cannot be read, or
            // a DPI the system never gives: only a sound rectangle is taken, and without it or a
            // possible DPI the window's own DPI stands, so the layout stays sound.
            RECT r;
            bool with_rectangle = ReadSuggestedRect(lp, &r);
            if (with_rectangle)
                SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
            self->ApplyDpi(
                ramtidy::DpiAfterChange(LOWORD(wp), HIWORD(wp), with_rectangle, WindowDpi(hwnd)));
            return 0;
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
    FreeBacking();
}

bool PictureBox::Create(Form& form, double left, double top, double width, double height) {
    // No background brush: the backing bitmap covers every pixel.
    RegisterOnce(kPictureClass, &PictureBox::Proc, nullptr, nullptr);
    Attach(form);
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    // The label children paint their own part of the picture.
    if (!CreateChild(kPictureClass, L"", WS_BORDER | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, form.hwnd(),
                     0, PixelRect(left, top, width, height), this))
        return false;
    Measure();
    MakeBacking();
    return true;
}

void PictureBox::Measure() {
    RECT outer;
    GetWindowRect(hwnd_, &outer);
    outer_width_twips_ = static_cast<float>(form_->Twips(outer.right - outer.left));
    outer_height_twips_ = static_cast<float>(form_->Twips(outer.bottom - outer.top));
    RECT client;
    GetClientRect(hwnd_, &client);
    width_px_ = client.right;
    height_px_ = client.bottom;
}

void PictureBox::FreeBacking() {
    if (memory_dc_) {
        SelectObject(memory_dc_, old_bitmap_);
        DeleteDC(memory_dc_);
        memory_dc_ = nullptr;
    }
    if (bitmap_) {
        DeleteObject(bitmap_);
        bitmap_ = nullptr;
    }
}

void PictureBox::MakeBacking() {
    FreeBacking();
    HDC screen = GetDC(hwnd_);
    memory_dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width_px_ > 0 ? width_px_ : 1,
                                     height_px_ > 0 ? height_px_ : 1);
    ReleaseDC(hwnd_, screen);
    old_bitmap_ = SelectObject(memory_dc_, bitmap_);
    PatBlt(memory_dc_, 0, 0, width_px_, height_px_, WHITENESS);
    for (const Fill& fill : fills_)
        Draw(fill);
}

void PictureBox::ApplyDpi(int) {
    Move(hwnd_, PixelRect(left_, top_, width_, height_));
    Measure();
    MakeBacking();
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, FALSE);
}

RECT PictureBox::Draw(const Fill& fill) {
    RECT rc;
    int px1 = form_->Px(fill.x1), px2 = form_->Px(fill.x2);
    int py1 = form_->Px(fill.y1), py2 = form_->Px(fill.y2);
    rc.left = px1 < px2 ? px1 : px2;
    rc.right = (px1 < px2 ? px2 : px1) + 1;
    rc.top = py1 < py2 ? py1 : py2;
    rc.bottom = (py1 < py2 ? py2 : py1) + 1;
    RECT client = {0, 0, width_px_, height_px_};
    if (!IntersectRect(&rc, &rc, &client))
        return RECT{};
    HBRUSH brush = CreateSolidBrush(fill.colour);
    FillRect(memory_dc_, &rc, brush);
    DeleteObject(brush);
    return rc;
}

void PictureBox::FillBox(double x1, double y1, double x2, double y2, int r, int g, int b) {
    if (!memory_dc_)
        return;
    Fill fill = {
        x1, y1, x2, y2,
        RGB(ramtidy::ClampComponent(r), ramtidy::ClampComponent(g), ramtidy::ClampComponent(b))};
    fills_.push_back(fill);
    RECT rc = Draw(fill);
    // A null window would repaint the whole desktop.
    if (hwnd_ && !IsRectEmpty(&rc))
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
    Attach(picture.form());
    picture_ = &picture;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    points_ = points;
    logfont_.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    logfont_.lfCharSet = charset;
    lstrcpynW(logfont_.lfFaceName, face, LF_FACESIZE);
    logfont_.lfHeight = -ramtidy::PointsToPixels(points, form_->dpi());
    font_ = CreateFontIndirectW(&logfont_);
    text_ = text;
    RECT r = PixelRect(left, top, width, height);
    origin_ = POINT{r.left, r.top};
    return CreateChild(kLabelClass, text.c_str(), 0, picture.hwnd(), 0, r, this) != nullptr;
}

void Label::ApplyDpi(int dpi) {
    logfont_.lfHeight = -ramtidy::PointsToPixels(points_, dpi);
    HFONT font = CreateFontIndirectW(&logfont_);
    if (font) {
        if (font_)
            DeleteObject(font_);
        font_ = font;
    }
    RECT r = PixelRect(left_, top_, width_, height_);
    origin_ = POINT{r.left, r.top};
    Move(hwnd_, r);
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, FALSE);
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

// Button, CheckBox, CommandButton

bool Button::CreateButton(Form& form, int id, const wchar_t* caption, DWORD style, double left,
                          double top, double width, double height) {
    // The manifest redirects the class BUTTON to Common Controls 6: the system loads that
    // comctl32.dll when the first button is made, so the forms without buttons never load it.
    Attach(form);
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    hwnd_ = CreateChild(L"BUTTON", caption, style, form.hwnd(), id,
                        PixelRect(left, top, width, height), nullptr);
    if (hwnd_)
        SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(form.MessageFont()), FALSE);
    return hwnd_ != nullptr;
}

void Button::ApplyDpi(int) {
    Move(hwnd_, PixelRect(left_, top_, width_, height_));
    if (hwnd_)
        SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(form_->MessageFont()), TRUE);
}

bool CheckBox::Create(Form& form, int id, const wchar_t* caption, double left, double top,
                      double width, double height) {
    return CreateButton(form, id, caption, WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE, left, top,
                        width, height);
}

int CheckBox::Value() const {
    return static_cast<int>(SendMessageW(hwnd(), BM_GETCHECK, 0, 0));
}

void CheckBox::SetValue(int value) {
    SendMessageW(hwnd(), BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

bool CommandButton::Create(Form& form, int id, const wchar_t* caption, double left, double top,
                           double width, double height) {
    return CreateButton(form, id, caption, WS_TABSTOP | BS_PUSHBUTTON, left, top, width, height);
}

}  // namespace forms
