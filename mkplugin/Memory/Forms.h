// A small forms layer over Win32: top-level forms and the few controls the plug-in uses, laid
// out in twips (1/1440 inch) at each form's own DPI. The program is per-monitor DPI aware (its
// manifest): a form takes the DPI of the monitor it is on, and when it moves to a monitor of
// another scale (WM_DPICHANGED) it lays out its controls, makes their fonts and redraws their
// pictures again at the new DPI.
// The program ends when its last form is gone, so the layer counts live forms and posts WM_QUIT
// after the last one. Every window of the layer has its procedure from its class and its object
// from creation (WM_NCCREATE), so that no message of its life, the first ones included, misses
// the object.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace forms {

// Lets every window of the thread handle its pending messages, then returns.
void DoEvents();
// Serves messages until the last form is gone. Returns at once when none is left.
void RunUntilLastFormCloses();
int LiveForms();

class Form;

// A child window laid out in twips on a form. The form calls ApplyDpi after it has taken a new
// DPI, in the order the controls were created.
class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control();

protected:
    friend class Form;
    void Attach(Form& form);
    // Pixel rectangle of a twips rectangle at the form's DPI.
    RECT PixelRect(double left, double top, double width, double height) const;
    virtual void ApplyDpi(int dpi) = 0;
    Form* form_ = nullptr;
};

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
    // Dots per inch of the monitor the form is on, as the form last learnt it.
    int dpi() const { return dpi_; }
    int Px(double twips) const;
    double Twips(int px) const;
    // The system's message font at the form's DPI, for its buttons; the form owns it.
    HFONT MessageFont();

    // The close box (WM_CLOSE). Without a handler the form is destroyed.
    std::function<void()> on_close;
    // A button child was clicked; the argument is its control identifier.
    std::function<void(int)> on_click;

private:
    friend class Control;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void ApplyDpi(int dpi);
    // Sizes the window so that its client area is the layout's, whatever its frame measures.
    void FitClientArea();
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;  // the child that gets the focus back on activation
    bool counted_ = false;  // counts among the live forms
    int dpi_ = 96;
    double client_width_twips_ = 0, client_height_twips_ = 0;
    HFONT message_font_ = nullptr;
    std::vector<Control*> controls_;
};

// A picture box with a persistent backing bitmap: what is drawn stays through repaints. It keeps
// what was drawn, in twips, so that a new DPI gets a new bitmap with the same picture on it.
class PictureBox : public Control {
public:
    PictureBox() = default;
    ~PictureBox() override;

    // Outer rectangle in twips within the form's client area; thin border; white background.
    bool Create(Form& form, double left, double top, double width, double height);
    // Outer size in twips as the drawing arithmetic takes it: the window's size in pixels read
    // back at the form's DPI. It changes only with the DPI, and stays after the window is gone.
    float OuterWidthTwips() const { return outer_width_twips_; }
    float OuterHeightTwips() const { return outer_height_twips_; }
    // Fills the rectangle between two corners (twips, client origin, both edges included)
    // with an RGB colour; components above 255 count as 255. Drawing outside is clipped.
    void FillBox(double x1, double y1, double x2, double y2, int r, int g, int b);
    HWND hwnd() const { return hwnd_; }
    Form& form() const { return *form_; }
    // The backing bitmap, for the labels that stand over the picture.
    HDC backing_dc() const { return memory_dc_; }

private:
    struct Fill {
        double x1, y1, x2, y2;
        COLORREF colour;
    };
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void ApplyDpi(int dpi) override;
    void Measure();
    // A white bitmap of the client area's size, with every fill drawn again.
    void MakeBacking();
    void FreeBacking();
    // Draws a fill into the backing bitmap; returns the pixels it covered (empty if none).
    RECT Draw(const Fill& fill);
    void Paint();
    HWND hwnd_ = nullptr;
    HDC memory_dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    int width_px_ = 0, height_px_ = 0;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;  // twips
    float outer_width_twips_ = 0, outer_height_twips_ = 0;
    std::vector<Fill> fills_;
};

// A label with a transparent background inside a picture box: it paints the picture under it
// from the box's backing bitmap, then its text. Its window text is the label's text, so other
// programs (and tests) can read it without a message to this busy thread; it is set only when
// it changes, since the run sets the label after every block.
class Label : public Control {
public:
    Label() = default;
    ~Label() override;

    // Rectangle in twips within the picture box's client area; font (its size in points, made
    // at the form's DPI) and initial text.
    bool Create(const PictureBox& picture, double left, double top, double width, double height,
                const wchar_t* face, double points, bool bold, BYTE charset,
                const std::wstring& text);
    void SetText(const std::wstring& text);
    const std::wstring& text() const { return text_; }
    HWND hwnd() const { return hwnd_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void ApplyDpi(int dpi) override;
    void Paint();
    HWND hwnd_ = nullptr;
    const PictureBox* picture_ = nullptr;
    POINT origin_ = {};  // top left corner within the picture box's client area, pixels
    HFONT font_ = nullptr;
    LOGFONTW logfont_ = {};  // lfHeight is set for each DPI
    double points_ = 0;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;  // twips
    std::wstring text_;
};

// Check box and push button: standard Win32 buttons in the system's message font.
class Button : public Control {
public:
    HWND hwnd() const { return hwnd_; }

protected:
    bool CreateButton(Form& form, int id, const wchar_t* caption, DWORD style, double left,
                      double top, double width, double height);

private:
    void ApplyDpi(int dpi) override;
    HWND hwnd_ = nullptr;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;  // twips
};

class CheckBox : public Button {
public:
    bool Create(Form& form, int id, const wchar_t* caption, double left, double top, double width,
                double height);
    int Value() const;  // 0 unchecked, 1 checked, 2 grey
    void SetValue(int value);
};

class CommandButton : public Button {
public:
    // Neither the default nor the cancel button of its form.
    bool Create(Form& form, int id, const wchar_t* caption, double left, double top, double width,
                double height);
};

}  // namespace forms
