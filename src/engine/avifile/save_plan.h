// The inside of the save, open to the tests: the RIFF size limit is a parameter, so that a small
// file can be split into many OpenDML parts.
#pragma once

#include <cstdint>
#include <vector>

#include "avi_writer.h"

namespace avi {

// The size of one RIFF part, headers and indexes included, that readers of OpenDML files expect.
// An output that fits one part is written as plain AVI 1.0.
constexpr std::uint64_t kMaxRiffSize = std::uint64_t{1} << 30;

struct SaveTuning {
    std::uint64_t riffLimit = kMaxRiffSize;
    bool kernelCopy = true;  // off: every byte goes through the buffer
};

AviResult WriteAviFileTuned(const FilePath& target, const std::vector<SaveStream>& streams,
                            const SaveProgressFn& progress, const SaveTuning& tuning);

}  // namespace avi
