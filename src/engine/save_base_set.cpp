#include "engine/save_base_set.h"

#include <cstdint>

#include "engine/avi_calls.h"
#include "engine/engine_ports.h"
#include "engine/stream_workspace.h"
#include "res/strings.h"

namespace vantrel {

namespace {

constexpr std::size_t kWidePathSize = 260;

}  // namespace

std::string SaveErrorText(AviResult result) {
    // The save refuses to write over an existing file; say so in words, not by the code's name.
    if (result == AVIERR_FILEOPEN)
        return LoadEngineText(IDS_CANNOT_OVERWRITE);
    if (const char* name = AviErrorName(result))
        return name;
    return LoadEngineText(IDS_SAVE_UNKNOWN_ERROR);
}

int SaveBaseSet(WindowId, const char* path) {
    BaseStreamSet& base = GetWorkspace().BaseSet;
    // The save may write the handler it used into the records; the next save must find them as
    // they were built.
    std::uint32_t handlers[MAX_STREAMS] = {};
    for (std::int32_t i = 0; i < base.count; ++i)
        handlers[i] = base.optionPointers[i]->fccHandler;

    SystemPort* system = GetEnginePorts().system;
    const int platformId = system != nullptr ? system->platformId() : 0;
    AviResult result;
    if (platformId == 0 || platformId == 1) {
        result = AviCalls().saveVA(path, nullptr, nullptr, base.count, base.streams,
                                   base.optionPointers);
    } else {
        char16_t widePath[kWidePathSize] = {};
        if (system != nullptr)
            system->ansiToWide(path, widePath, kWidePathSize);
        result = AviCalls().saveVW(widePath, nullptr, nullptr, base.count, base.streams,
                                   base.optionPointers);
    }
    if (result != AVIERR_OK)
        ShowWarning("%s", SaveErrorText(result).c_str());

    for (std::int32_t i = 0; i < base.count; ++i)
        base.optionPointers[i]->fccHandler = handlers[i];
    return result == AVIERR_OK ? 1 : 0;
}

}  // namespace vantrel
