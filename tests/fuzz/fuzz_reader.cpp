// libFuzzer target: the AVI reader on arbitrary bytes. A read must either fail with a reason or
// describe streams whose every chunk can be read back from the source.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::shared_ptr<avi::ByteSource> source =
        avi::MakeMemorySource(std::vector<std::uint8_t>(data, data + size));
    avi::AviContents contents;
    std::string problem;
    const AviResult result = avi::ReadAviContents(source, &contents, &problem);
    if (result != AVIERR_OK) {
        if ((result != AVIERR_BADFORMAT && result != AVIERR_FILEREAD) || problem.empty())
            std::abort();
        return 0;
    }
    std::vector<std::uint8_t> payload;
    for (const std::shared_ptr<avi::StreamData>& stream : contents.streams) {
        if (stream->header.length != stream->sampleCount())
            std::abort();
        for (std::size_t i = 0; i < stream->chunks.size(); ++i) {
            const avi::ChunkRef& chunk = stream->chunks[i];
            if (chunk.offset() > size || chunk.size() > size - chunk.offset())
                std::abort();
            payload.resize(chunk.size());
            if (!stream->source->readAt(chunk.offset(), payload.data(), payload.size()))
                std::abort();
            if (stream->samplesInChunk(i) > 0 && stream->chunkOfSample(chunk.firstSample()) != i)
                std::abort();
        }
    }
    return 0;
}
