// Small AVI files for the engine and rule tests, made by the test builder from a list of
// streams: their headers and how many chunks each gets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "avi_builder.h"
#include "avifile.h"

namespace vantrel::testing {

// One stream of a fixture file: its headers and how many chunks it gets.
struct FixtureStream {
    avitest::StreamDesc desc;
    int chunks = 0;
    std::size_t chunkBytes = 0;
};

inline FixtureStream Video(int frames, std::uint32_t handler = avitest::FourCC("MJPG"),
                           std::uint32_t rate = 25, std::int32_t width = 64,
                           std::int32_t height = 48) {
    return {avitest::VideoStream(width, height, handler, rate), frames, 120};
}

// PCM chunks of 441 samples, 16-bit stereo.
inline FixtureStream Audio(int chunks, std::uint32_t sampleRate = 44100) {
    return {avitest::PcmAudioStream(2, sampleRate, 16), chunks, 441 * 4};
}

// A stream of neither kind, e.g. subtitles.
inline FixtureStream Text(int chunks) {
    avitest::StreamDesc desc;
    desc.type = streamtypeTEXT;
    desc.format = {1, 2, 3, 4};
    return {desc, chunks, 16};
}

// The streams' chunks interleaved, payloads told apart by `seed`, stream and chunk number.
inline std::vector<std::uint8_t> BuildFile(const std::vector<FixtureStream>& streams,
                                           std::uint32_t seed = 1) {
    avitest::AviBuilder builder;
    int most = 0;
    for (const FixtureStream& stream : streams) {
        builder.addStream(stream.desc);
        most = std::max(most, stream.chunks);
    }
    for (int i = 0; i < most; ++i) {
        for (std::size_t s = 0; s < streams.size(); ++s) {
            if (i < streams[s].chunks) {
                // Frames differ in size; audio chunks hold whole samples only.
                const std::size_t bytes =
                    streams[s].chunkBytes +
                    (streams[s].desc.sampleSize == 0 ? static_cast<std::size_t>(i) : 0);
                builder.chunk(
                    static_cast<int>(s),
                    avitest::Payload(bytes, seed * 1000 + static_cast<std::uint32_t>(s * 50 + i)));
            }
        }
    }
    return builder.build();
}

// Lengths of the streams of a file on disk, in stream order.
inline std::vector<std::int32_t> FileStreamLengths(const std::string& path) {
    std::vector<std::int32_t> lengths;
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) != AVIERR_OK)
        return lengths;
    for (std::int32_t i = 0;; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, i) != AVIERR_OK)
            break;
        lengths.push_back(AVIStreamLength(stream));
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return lengths;
}

}  // namespace vantrel::testing
