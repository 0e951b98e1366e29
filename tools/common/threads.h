// Threads of this process that began in a given module: a stand-in checks with it that the
// hook library's worker and notice threads are gone.
#pragma once

#include <windows.h>

namespace mk::tools {

// Threads of the current process whose start address lies inside `module`'s image, and those
// that have not run yet (Wine shows a thread's start address only once it has run, Windows at
// once): one of them may be the module's, and a wait for none left must not end before it
// has run. -1 when it cannot be told.
int CountThreadsStartedIn(HMODULE module);

}  // namespace mk::tools
