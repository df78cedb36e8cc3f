// Byte-level input for the AVI services: random-access sources over files or memory, and the
// little-endian helpers every parser uses. Offsets are 64-bit on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "avifile.h"

namespace avi {

// A path exactly as the caller gave it: bytes in the system's ANSI code page (UTF-8 on POSIX
// systems) or UTF-16. Files are opened with the matching system call, so no name is lost in a
// conversion the caller did not ask for.
struct FilePath {
    std::string narrow;
    std::u16string wide;
    bool isWide = false;

    static FilePath Narrow(std::string path) { return FilePath{std::move(path), {}, false}; }
    static FilePath Wide(std::u16string path) { return FilePath{{}, std::move(path), true}; }
    // The path for messages (UTF-8 for wide paths).
    std::string display() const;
    bool empty() const { return isWide ? wide.empty() : narrow.empty(); }
};

// Random-access, read-only bytes. Implementations are safe to read from one thread at a time.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly `count` bytes at `offset`; false on a read error or when the range passes the
    // end of the data.
    virtual bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const = 0;
    // The OS file descriptor behind the source, for kernel-side copies; -1 when there is none.
    virtual int nativeDescriptor() const { return -1; }
    // A name for messages: the file's path, or "<memory>".
    virtual std::string name() const = 0;
};

// Opens a file for reading. AVIERR_FILEOPEN when it cannot be opened (missing, a folder, no
// access).
AviResult OpenFileSource(const FilePath& path, std::shared_ptr<ByteSource>* source);

// A source over bytes held in memory; used by tests and by the fuzzer.
std::shared_ptr<ByteSource> MakeMemorySource(std::vector<std::uint8_t> bytes);

// ---- Little-endian helpers ----------------------------------------------------------------------

inline std::uint16_t LoadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t LoadLE64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadLE32(p)) | static_cast<std::uint64_t>(LoadLE32(p + 4))
                                                         << 32;
}
inline void StoreLE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreLE64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// "00dc" and the like, for messages; a code with unreadable bytes as "0x00000001".
std::string FourCCText(std::uint32_t fourcc);

}  // namespace avi
