// The settings dialog: whether the cleaning run shows its status window.
#pragma once

namespace ramtidy {

// Creates and shows the dialog (Form_Load sets the check mark from `show_wnd`) and returns at
// once; the dialog lives on in the message loop.
void ShowSettingsDialog(bool show_wnd);

}  // namespace ramtidy
