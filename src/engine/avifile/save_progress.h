// A process-wide watcher of saves. The platform's save takes only a percent callback, and the
// engine passes none; a front end that shows progress (the vantrel tool's progress bar) installs
// an observer here instead, and every AVISaveVA/AVISaveVW reports to it.
#pragma once

#include "avi_writer.h"

namespace avi {

// Installs `observer` for the saves that follow; an empty function removes it. Returning false
// from the observer cancels the save with AVIERR_USERABORT.
void SetSaveProgressObserver(SaveProgressFn observer);

}  // namespace avi
