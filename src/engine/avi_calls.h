// The AVI service calls whose failures no real file can bring about (a stream that cannot be made
// editable, a copy or a clipboard put that fails, every result of a save) go through this table,
// so that a test can make them fail. It defaults to the real services; nothing else replaces it.
#pragma once

#include <cstdint>
#include <functional>

#include "avifile.h"

namespace vantrel {

struct EngineAviCalls {
    std::function<std::uint32_t()> videoForWindowsVersion = VideoForWindowsVersion;
    std::function<AviResult(PAVISTREAM, AVISTREAMINFOA*, std::int32_t)> streamInfo = AVIStreamInfoA;
    std::function<AviResult(PAVISTREAM*, PAVISTREAM)> createEditableStream = CreateEditableStream;
    std::function<AviResult(PAVISTREAM, std::int32_t*, std::int32_t*, PAVISTREAM*)> editStreamCopy =
        EditStreamCopy;
    std::function<AviResult(PAVIFILE)> putFileOnClipboard = AVIPutFileOnClipboard;
    std::function<AviResult(const char*, const void*, AVISAVECALLBACK, std::int32_t, PAVISTREAM*,
                            AVICOMPRESSOPTIONS**)>
        saveVA = AVISaveVA;
    std::function<AviResult(const char16_t*, const void*, AVISAVECALLBACK, std::int32_t,
                            PAVISTREAM*, AVICOMPRESSOPTIONS**)>
        saveVW = AVISaveVW;
};

// The table in use; assign EngineAviCalls{} to go back to the real services.
EngineAviCalls& AviCalls();

}  // namespace vantrel
