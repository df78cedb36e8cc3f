#include "filelist/probe.h"

#include "engine/avi_calls.h"

namespace vantrel {

HeaderTable ReferenceTable{};
HeaderTable CandidateTable{};

const char* const kProbeErrorText =
    "The program does not open the avi file. Please install the appropriate avi decoder.\n"
    " Or the avi file is corrupt.";

namespace {

void ShowProbeError(MessageBoxPort& boxes, WindowId owner) {
    boxes.show(owner, kProbeErrorText, "Error", kMbOk);
}

}  // namespace

bool ProbeAviFile(const char* path, HeaderTable& table, MessageBoxPort& boxes, WindowId owner) {
    table.count = 0;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path, OF_READ, nullptr) != AVIERR_OK) {
        ShowProbeError(boxes, owner);
        return false;
    }
    bool result = true;
    for (std::int32_t i = 0; i < MAX_STREAMS; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, i) != AVIERR_OK)
            break;
        // Counted before the read, so a stream whose header cannot be read still counts.
        ++table.count;
        if (AviCalls().streamInfo(stream, &table.headers[i], sizeof(AVISTREAMINFOA)) != AVIERR_OK) {
            ShowProbeError(boxes, owner);
            result = false;
        }
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return result;
}

}  // namespace vantrel
