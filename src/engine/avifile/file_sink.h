// The output file of a save. Everything goes to a temporary file beside the target, written
// front to back through one large buffer; only commit() puts it at the target's name, and never
// over a file that is already there. A sink that is destroyed without a successful commit removes
// its temporary file, so a failed or cancelled save leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_io.h"

namespace avi {

class FileSink {
public:
    // Bytes collected before they go to the file in one write. Small enough to stay in the
    // processor's cache between the read into it and the write out of it: with 4 MiB, copies of
    // small-chunk files ran at times several times slower.
    static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

    // Creates the temporary file beside `target`. AVIERR_FILEOPEN when something already exists at
    // `target` or no file can be created in its folder.
    static AviResult Create(const FilePath& target, std::unique_ptr<FileSink>* sink);

    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Bytes written so far, buffered ones included.
    std::uint64_t position() const { return m_flushed + m_used; }

    // AVIERR_FILEWRITE when the file cannot take the bytes (disk full, size limit).
    AviResult write(const void* data, std::size_t size);
    // Appends `size` bytes read from `source` at `offset`. A piece that continues the previous one
    // in the source, with a gap exactly as long as the bytes written in between (a chunk header
    // and pad), joins it: the whole stretch is fetched at once and the bytes written in between
    // are put back over the source's. Big stretches of files go through the kernel, file to file;
    // the rest is read straight into the buffer. AVIERR_FILEREAD when the source fails,
    // AVIERR_FILEWRITE when the file does.
    AviResult append(const ByteSource& source, std::uint64_t offset, std::uint64_t size);
    // Writes out everything buffered.
    AviResult flush();
    // Flushes, closes and renames the file to the target. AVIERR_FILEOPEN when a file appeared at
    // the target meanwhile (it is left alone), AVIERR_FILEWRITE on any other failure.
    AviResult commit();

    // Turns the kernel-side copy off, to compare both ways of copying.
    void setKernelCopy(bool enabled) { m_kernelCopy = enabled; }

    // The open file, as the platform knows it; defined with the platform code.
    struct Handle;

private:
    // Bytes written into the buffer over the span of the pending read; put back after the read.
    struct Patch {
        std::uint32_t position;
        std::uint32_t size;
        std::uint8_t bytes[16];
    };

    FileSink(FilePath target, FilePath temp, std::unique_ptr<Handle> handle);
    AviResult settlePending();
    AviResult writeOut(const std::uint8_t* data, std::size_t size);
    // Copies the pending stretch file to file and writes the patches over it at `base` plus their
    // position; *copied false when the system offers no such copy between these files.
    AviResult copyInKernel(std::uint64_t base, bool* copied);

    FilePath m_target;
    FilePath m_temp;
    std::unique_ptr<Handle> m_handle;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_flushed = 0;
    bool m_committed = false;
    bool m_kernelCopy = true;

    // The read not yet done: `m_pendingSize` bytes of `m_pendingSource` from `m_pendingOffset`
    // belong at m_buffer[m_pendingPosition].
    const ByteSource* m_pendingSource = nullptr;
    std::uint64_t m_pendingOffset = 0;
    std::size_t m_pendingPosition = 0;
    std::size_t m_pendingSize = 0;
    std::vector<Patch> m_patches;
};

}  // namespace avi
