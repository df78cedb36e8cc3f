// vantrel probe: what the AVI services see in a file.
#include <cinttypes>
#include <cstdio>

#include "commands.h"
#include "open_file.h"

namespace vantrel {

namespace {

constexpr const char* kProbeUsage =
    "usage: vantrel probe FILE...\n"
    "\n"
    "Shows, for each file, every stream with its type, handler, frame rectangle, rate, start,\n"
    "length, sample size and format, which index the file's chunks were found through, and any\n"
    "damage that was worked around. Exit status 1 when a file cannot be read.\n";

std::string FormatSummary(const avi::StreamData& stream) {
    const std::vector<std::uint8_t>& f = stream.format;
    char text[160];
    if (stream.header.fccType == streamtypeVIDEO && f.size() >= 40) {
        const std::uint32_t compression = avi::LoadLE32(f.data() + 16);
        std::snprintf(text, sizeof text, "%s %" PRId32 "x%" PRId32 ", %u bits",
                      compression == 0 ? "RGB" : avi::FourCCText(compression).c_str(),
                      static_cast<std::int32_t>(avi::LoadLE32(f.data() + 4)),
                      static_cast<std::int32_t>(avi::LoadLE32(f.data() + 8)),
                      avi::LoadLE16(f.data() + 14));
        return text;
    }
    if (stream.header.fccType == streamtypeAUDIO && f.size() >= 16) {
        std::snprintf(text, sizeof text,
                      "wave format 0x%04X, %u channels, %" PRIu32 " Hz, %" PRIu32
                      " bytes/s, block %u, %u bits",
                      avi::LoadLE16(f.data()), avi::LoadLE16(f.data() + 2),
                      avi::LoadLE32(f.data() + 4), avi::LoadLE32(f.data() + 8),
                      avi::LoadLE16(f.data() + 12), avi::LoadLE16(f.data() + 14));
        return text;
    }
    std::snprintf(text, sizeof text, "%zu format bytes", f.size());
    return text;
}

void PrintContents(const std::string& path, const avi::AviContents& contents) {
    std::printf("%s: %zu stream(s), index: %s\n", path.c_str(), contents.streams.size(),
                avi::IndexSourceName(contents.indexSource));
    for (std::size_t i = 0; i < contents.streams.size(); ++i) {
        const avi::StreamData& s = *contents.streams[i];
        const avi::StreamHeader& h = s.header;
        std::printf("  stream %zu: %s, handler %s, frame (%d,%d,%d,%d), rate %" PRIu32 "/%" PRIu32
                    ", start %" PRIu32 ", length %" PRIu32 ", sample size %" PRIu32
                    ", %zu chunks\n    format: %s\n",
                    i, avi::FourCCText(h.fccType).c_str(), avi::FourCCText(h.fccHandler).c_str(),
                    h.frameLeft, h.frameTop, h.frameRight, h.frameBottom, h.rate, h.scale, h.start,
                    s.sampleCount(), h.sampleSize, s.chunks.size(), FormatSummary(s).c_str());
    }
    for (const std::string& line : contents.damage)
        std::printf("  damage: %s\n", line.c_str());
}

}  // namespace

int RunProbe(const Arguments& args) {
    if (args.empty() || args.front() == "--help" || args.front() == "-h") {
        std::fputs(kProbeUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 1 : 0;
    }
    int status = 0;
    for (const std::string& path : args) {
        avi::AviContents contents;
        std::string problem;
        if (!ReadInput(path, &contents, &problem)) {
            ReportBadInput(path, problem);
            status = 1;
            continue;
        }
        PrintContents(path, contents);
    }
    return status;
}

}  // namespace vantrel
