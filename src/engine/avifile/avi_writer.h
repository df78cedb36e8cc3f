// The save: writes streams by stream copy into a new AVI file. The layout is planned first, since
// every chunk's size is known before anything is written, and then written in one sequential pass
// to a temporary file beside the target, which is renamed into place only on success.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "stream_data.h"

namespace avi {

// A run of `count` samples of `source`, starting at sample `first`.
struct Segment {
    std::shared_ptr<const StreamData> source;
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// One output stream: its header and formats come from `prototype`, its samples from `segments`
// in order. All segments have the prototype's type, rate, sample size and format.
struct SaveStream {
    std::shared_ptr<const StreamData> prototype;
    std::vector<Segment> segments;
};

// Called now and then while the save writes: bytes written so far and the planned total.
// Returning false cancels the save (AVIERR_USERABORT).
using SaveProgressFn = std::function<bool(std::uint64_t written, std::uint64_t total)>;

// Results: AVIERR_OK; AVIERR_FILEOPEN when a file already exists at `target` or no file can be
// created beside it; AVIERR_FILEWRITE when writing fails (disk full); AVIERR_FILEREAD when a
// source can no longer be read; AVIERR_USERABORT when `progress` cancelled. On failure nothing is
// left at `target` or beside it.
AviResult WriteAviFile(const FilePath& target, const std::vector<SaveStream>& streams,
                       const SaveProgressFn& progress);

}  // namespace avi
