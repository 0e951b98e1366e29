// A small forms layer over Win32: top-level forms and the few controls the plug-in uses,
// laid out in twips (1/1440 inch) at the screen's real resolution. The program ends when its
// last form is gone, so the layer counts live forms and posts WM_QUIT after the last one.
// Every window of the layer has its procedure from its class and its object from creation
// (WM_NCCREATE), so that no message of its life, the first ones included, misses the object.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace forms {

// Pixels per inch of the screen, read once.
int ScreenDpi();
int TwipsToPx(double twips);
double PxToTwips(int px);

// Lets every window of the thread handle its pending messages, then returns.
void DoEvents();
// Serves messages until the last form is gone. Returns at once when none is left.
void RunUntilLastFormCloses();
int LiveForms();

class Form {
public:
    Form() = default;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;
    ~Form();

    // Creates the form hidden, with the client area given in twips; the system chooses the
    // position. `dialog_keys`: Tab, Shift+Tab and Enter work as in a dialog.
    bool Create(const wchar_t* caption, DWORD style, DWORD ex_style, double client_width_twips,
                double client_height_twips, bool dialog_keys);
    void Show();
    void Hide();
    // Gives `child` the keyboard focus, now and whenever the form is activated again.
    void FocusChild(HWND child);
    void Destroy();
    // Null once the window is gone.
    HWND hwnd() const { return hwnd_; }

    // The close box (WM_CLOSE). Without a handler the form is destroyed.
    std::function<void()> on_close;
    // A button child was clicked; the argument is its control identifier.
    std::function<void(int)> on_click;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;  // the child that gets the focus back on activation
    bool counted_ = false;  // counts among the live forms
};

// A picture box with a persistent backing bitmap: what is drawn stays through repaints.
class PictureBox {
public:
    PictureBox() = default;
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;
    ~PictureBox();

    // Outer rectangle in twips within `parent`'s client area; thin border; white background.
    bool Create(HWND parent, double left, double top, double width, double height);
    // Outer size in twips, as the drawing arithmetic takes it. The box never changes its size,
    // so this is the size it was created with, also after its window is gone.
    float OuterWidthTwips() const { return outer_width_twips_; }
    float OuterHeightTwips() const { return outer_height_twips_; }
    // Fills the rectangle between two corners (twips, client origin, both edges included)
    // with an RGB colour; components above 255 count as 255. Drawing outside is clipped.
    void FillBox(double x1, double y1, double x2, double y2, int r, int g, int b);
    HWND hwnd() const { return hwnd_; }
    // The backing bitmap, for the labels that stand over the picture.
    HDC backing_dc() const { return memory_dc_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void Paint();
    HWND hwnd_ = nullptr;
    HDC memory_dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    int width_px_ = 0, height_px_ = 0;
    float outer_width_twips_ = 0, outer_height_twips_ = 0;
};

// A label with a transparent background inside a picture box: it paints the picture under it
// from the box's backing bitmap, then its text. Its window text is the label's text, so other
// programs (and tests) can read it without a message to this busy thread; it is set only when
// it changes, since the run sets the label after every block.
class Label {
public:
    Label() = default;
    Label(const Label&) = delete;
    Label& operator=(const Label&) = delete;
    ~Label();

    // Rectangle in twips within the picture box's client area; font and initial text.
    bool Create(const PictureBox& picture, double left, double top, double width, double height,
                const wchar_t* face, double points, bool bold, BYTE charset,
                const std::wstring& text);
    void SetText(const std::wstring& text);
    const std::wstring& text() const { return text_; }
    HWND hwnd() const { return hwnd_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void Paint();
    HWND hwnd_ = nullptr;
    const PictureBox* picture_ = nullptr;
    POINT origin_ = {};  // top left corner within the picture box's client area, pixels
    HFONT font_ = nullptr;
    std::wstring text_;
};

// Check box and push button: standard Win32 buttons in the system's message font.
class CheckBox {
public:
    bool Create(HWND parent, int id, const wchar_t* caption, double left, double top, double width,
                double height);
    int Value() const;  // 0 unchecked, 1 checked, 2 grey
    void SetValue(int value);
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

class CommandButton {
public:
    // Neither the default nor the cancel button of its form.
    bool Create(HWND parent, int id, const wchar_t* caption, double left, double top, double width,
                double height);
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

}  // namespace forms
