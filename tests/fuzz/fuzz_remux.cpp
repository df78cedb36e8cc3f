// libFuzzer target: every file the reader accepts goes through the save and back. The save may
// refuse with a result, but what it writes must read back with the same streams and samples.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "stream_data.h"

namespace {

std::string OutputPath() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("fuzz_remux_" + std::to_string(::getpid()) + ".avi"))
                                        .string();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    avi::AviContents input;
    std::string problem;
    if (avi::ReadAviContents(avi::MakeMemorySource(std::vector<std::uint8_t>(data, data + size)),
                             &input, &problem) != AVIERR_OK) {
        return 0;
    }
    std::vector<avi::SaveStream> streams;
    for (const std::shared_ptr<avi::StreamData>& stream : input.streams) {
        avi::SaveStream save{stream, {}};
        if (stream->sampleCount() > 0)
            save.segments.push_back(avi::Segment{stream, 0, stream->sampleCount()});
        streams.push_back(std::move(save));
    }

    const avi::FilePath path = avi::FilePath::Narrow(OutputPath());
    const AviResult saved = avi::WriteAviFile(path, streams, {});
    if (saved != AVIERR_OK) {
        // A refusal leaves nothing behind.
        if (std::filesystem::exists(path.narrow))
            std::abort();
        return 0;
    }
    std::shared_ptr<avi::ByteSource> written;
    avi::AviContents output;
    if (avi::OpenFileSource(path, &written) != AVIERR_OK ||
        avi::ReadAviContents(written, &output, &problem) != AVIERR_OK ||
        output.streams.size() != input.streams.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < input.streams.size(); ++i) {
        const avi::StreamData& in = *input.streams[i];
        const avi::StreamData& out = *output.streams[i];
        if (out.sampleCount() != in.sampleCount() || out.header.fccType != in.header.fccType ||
            out.format != in.format || !output.damage.empty()) {
            std::abort();
        }
    }
    written.reset();
    std::filesystem::remove(path.narrow);
    return 0;
}
