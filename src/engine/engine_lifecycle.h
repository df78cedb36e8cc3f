// Starting and tearing down the engine, apart from any window: the desktop program's hidden
// engine window calls these from its creation and its window procedure, vantrel calls them
// directly.
#pragma once

#include <cstdint>

namespace vantrel {

// 1 when the AVI services are recent enough; otherwise beeps, shows "Video for Windows version
// is too old" in an error box without owner and returns 0.
int TestVideoForWindowsVersion();

// The whole start without a window: the version test, the module instance kept for the string
// table, the AVI services initialised. 1 when the engine runs.
int StartEngine(std::uintptr_t instance);

// The teardown of the destroy message: clears the AVI clipboard, empties the base set and shuts
// the AVI services down.
void StopEngine();

// The teardown when the session ends: empties the base set, the services stay up.
void EndEngineSession();

}  // namespace vantrel
