#include "engine/engine_lifecycle.h"

#include <string>

#include "avifile.h"
#include "engine/avi_calls.h"
#include "engine/engine_ports.h"
#include "engine/stream_workspace.h"
#include "res/strings.h"

namespace vantrel {

namespace {

constexpr std::uint32_t kMinimumVersionHighWord = 0x010A;

}  // namespace

int TestVideoForWindowsVersion() {
    if ((AviCalls().videoForWindowsVersion() >> 16) >= kMinimumVersionHighWord)
        return 1;
    const EnginePorts& ports = GetEnginePorts();
    if (ports.system != nullptr)
        ports.system->errorBeep();
    const std::string caption = LoadEngineText(IDS_ERROR_CAPTION);
    const std::string text = LoadEngineText(IDS_VFW_TOO_OLD);
    if (ports.messageBox != nullptr)
        ports.messageBox->show(kNoWindow, text, caption.c_str(), kMbIconError | kMbOk);
    return 0;
}

int StartEngine(std::uintptr_t instance) {
    if (!TestVideoForWindowsVersion())
        return 0;
    GetWorkspace().instance = instance;
    AVIFileInit();
    return 1;
}

void StopEngine() {
    AVIClearClipboard();
    ReleaseWorkspace();
    AVIFileExit();
}

void EndEngineSession() {
    ReleaseWorkspace();
}

}  // namespace vantrel
