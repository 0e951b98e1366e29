#include "Form2.h"

#include <windows.h>

#include "Forms.h"
#include "Module1.h"

namespace ramtidy {
namespace {

// Control identifiers away from IDOK and IDCANCEL: Enter and Escape must not act as if a
// button were the default or the cancel button.
enum { kCommand1 = 101, kCheck1 = 102 };

struct Form2Type {
    forms::Form form;
    forms::CommandButton Command1;
    forms::CheckBox Check1;
    bool show_wnd = true;

    void Form_Load() { Check1.SetValue(show_wnd ? 1 : 0); }

    void Command1_Click() {
        SaveShowWndSetting(Check1.Value() == 1);
        form.Destroy();
    }
};

Form2Type Form2;

}  // namespace

void ShowSettingsDialog(bool show_wnd) {
    Form2.show_wnd = show_wnd;
    if (!Form2.form.Create(L"設定", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                           WS_EX_APPWINDOW, 4680, 570, true))
        return;
    // Creation order is the tab order: Command1 first, then Check1.
    Form2.Command1.Create(Form2.form, kCommand1, L"了解", 3480, 120, 1095, 375);
    Form2.Check1.Create(Form2.form, kCheck1, L"メモリクリーン実行時に状況表示ウィンドウを表示", 120,
                        120, 3255, 375);
    Form2.form.on_click = [](int id) {
        if (id == kCommand1)
            Form2.Command1_Click();
    };
    Form2.Form_Load();
    Form2.form.FocusChild(Form2.Command1.hwnd());
    Form2.form.Show();
}

}  // namespace ramtidy
