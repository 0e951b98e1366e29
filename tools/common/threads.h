// Threads of this process that began in a given module: a stand-in checks with it that the
// hook library's worker and notice threads are gone.
#pragma once

#include <windows.h>

namespace mk::tools {

// Threads of the current process whose start address lies inside `module`'s image, and those
// that have not begun to run yet (Wine tells their start only then); -1 when it cannot be told.
int CountThreadsStartedIn(HMODULE module);

}  // namespace mk::tools
