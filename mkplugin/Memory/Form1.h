// The status window of the cleaning run: a progress bar with the percentage written over it.
#pragma once

#include <cstdint>
#include <string>

#include "Forms.h"

namespace ramtidy {

struct Form1Type {
    forms::Form form;
    forms::PictureBox Picture1;
    forms::Label Label1;  // inside Picture1

    // Created hidden; the run shows it.
    bool Create();
};

extern Form1Type Form1;

// The cleaning run for `switch_text` ("/<percent>"); shows Form1 when `show_window` is true.
void RunMemoryClean(const std::u16string& switch_text, bool show_window);

}  // namespace ramtidy
