#include "file_sink.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#endif

namespace avi {

namespace {

// Stretches at least this big per chunk header go through the kernel's file-to-file copy where
// there is one: the bytes then never pass through our buffer. Every header of a merged stretch
// costs a small write afterwards, so runs of small chunks are cheaper read into the buffer and
// patched there.
constexpr std::uint64_t kKernelCopyMin = std::uint64_t{128} << 10;
// A merged read puts back at most this many small writes (chunk headers and pads) afterwards.
constexpr std::size_t kMaxPatches = 4096;
constexpr int kTempNameAttempts = 100;

// The folder part of `path` with its separator, or empty. Windows also knows "C:name".
template <typename String>
String FolderOf(const String& path) {
    std::size_t cut = String::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = path[i];
#ifdef _WIN32
        if (c == '\\' || c == '/' || (c == ':' && i == 1))
            cut = i;
#else
        if (c == '/')
            cut = i;
#endif
    }
    return cut == String::npos ? String() : path.substr(0, cut + 1);
}

// A short name, so that a target close to the path length limit still has room for it.
template <typename String>
String TempNameBeside(const String& target, std::uint32_t salt) {
    String name = FolderOf(target);
    const char prefix[] = "~vt";
    for (const char* p = prefix; *p != 0; ++p)
        name += static_cast<typename String::value_type>(*p);
    for (int shift = 20; shift >= 0; shift -= 4)
        name += static_cast<typename String::value_type>("0123456789abcdef"[(salt >> shift) & 0xF]);
    const char suffix[] = ".tmp";
    for (const char* p = suffix; *p != 0; ++p)
        name += static_cast<typename String::value_type>(*p);
    return name;
}

std::uint32_t NextSalt() {
    static std::uint32_t counter = 0;
#ifdef _WIN32
    const std::uint32_t seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
#else
    const std::uint32_t seed = static_cast<std::uint32_t>(::getpid()) * 2654435761u ^
                               static_cast<std::uint32_t>(::time(nullptr));
#endif
    return seed + 0x9E3779B9u * ++counter;
}

FilePath TempPathBeside(const FilePath& target, std::uint32_t salt) {
    return target.isWide ? FilePath::Wide(TempNameBeside(target.wide, salt))
                         : FilePath::Narrow(TempNameBeside(target.narrow, salt));
}

#ifdef _WIN32
const wchar_t* WideOf(const FilePath& path) {
    return reinterpret_cast<const wchar_t*>(path.wide.c_str());
}
#endif

// What creating a file that must not exist yet came to.
enum class NewFile { Created, NameTaken, Failed };

}  // namespace

#ifdef _WIN32

struct FileSink::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handle() { close(); }
    bool close() {
        if (file == INVALID_HANDLE_VALUE)
            return true;
        const bool closed = CloseHandle(file) != 0;
        file = INVALID_HANDLE_VALUE;
        return closed;
    }
};

namespace {

bool PathExists(const FilePath& path) {
    const DWORD attributes =
        path.isWide ? GetFileAttributesW(WideOf(path)) : GetFileAttributesA(path.narrow.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

NewFile CreateNewFile(const FilePath& path, FileSink::Handle* handle) {
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    handle->file = path.isWide ? CreateFileW(WideOf(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             flags, nullptr)
                               : CreateFileA(path.narrow.c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_NEW, flags, nullptr);
    if (handle->file != INVALID_HANDLE_VALUE)
        return NewFile::Created;
    return GetLastError() == ERROR_FILE_EXISTS ? NewFile::NameTaken : NewFile::Failed;
}

void RemoveFile(const FilePath& path) {
    if (path.isWide)
        DeleteFileW(WideOf(path));
    else
        DeleteFileA(path.narrow.c_str());
}

}  // namespace

AviResult FileSink::writeOut(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
        DWORD done = 0;
        if (!WriteFile(m_handle->file, data, want, &done, nullptr) || done == 0)
            return AVIERR_FILEWRITE;
        data += done;
        size -= done;
        m_flushed += done;
    }
    return AVIERR_OK;
}

AviResult FileSink::copyInKernel(std::uint64_t, bool* copied) {
    *copied = false;
    m_kernelCopy = false;
    return AVIERR_OK;
}

AviResult FileSink::commit() {
    AviResult result = flush();
    if (result != AVIERR_OK)
        return result;
    if (!m_handle->close())
        return AVIERR_FILEWRITE;
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a file that appeared at the target.
    const BOOL moved = m_target.isWide
                           ? MoveFileExW(WideOf(m_temp), WideOf(m_target), 0)
                           : MoveFileExA(m_temp.narrow.c_str(), m_target.narrow.c_str(), 0);
    if (!moved) {
        const DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? AVIERR_FILEOPEN
                                                                           : AVIERR_FILEWRITE;
    }
    m_committed = true;
    return AVIERR_OK;
}

#else

struct FileSink::Handle {
    int fd = -1;
    ~Handle() { close(); }
    bool close() {
        if (fd < 0)
            return true;
        const bool closed = ::close(fd) == 0;
        fd = -1;
        return closed;
    }
};

namespace {

std::string NativeOf(const FilePath& path) {
    return path.display();
}

bool PathExists(const FilePath& path) {
    struct stat info {};
    return ::lstat(NativeOf(path).c_str(), &info) == 0;
}

void RemoveFile(const FilePath& path) {
    ::unlink(NativeOf(path).c_str());
}

NewFile CreateNewFile(const FilePath& path, FileSink::Handle* handle) {
    handle->fd = ::open(NativeOf(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (handle->fd >= 0)
        return NewFile::Created;
    return errno == EEXIST ? NewFile::NameTaken : NewFile::Failed;
}

// Renames `from` to `to` unless something exists at `to`: the kernel's no-replace rename, else a
// hard link (which fails on an existing name), else, on file systems with neither, a check just
// before a plain rename.
AviResult RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return AVIERR_OK;
    if (errno == EEXIST)
        return AVIERR_FILEOPEN;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return AVIERR_FILEWRITE;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return AVIERR_OK;
    }
    if (errno == EEXIST)
        return AVIERR_FILEOPEN;
    if (errno != EPERM && errno != ENOTSUP)
        return AVIERR_FILEWRITE;
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return AVIERR_FILEOPEN;
    return ::rename(from.c_str(), to.c_str()) == 0 ? AVIERR_OK : AVIERR_FILEWRITE;
}

}  // namespace

AviResult FileSink::writeOut(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(m_handle->fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return AVIERR_FILEWRITE;
        data += done;
        size -= static_cast<std::size_t>(done);
        m_flushed += static_cast<std::uint64_t>(done);
    }
    return AVIERR_OK;
}

AviResult FileSink::copyInKernel(std::uint64_t base, bool* copied) {
    *copied = false;
    const int in = m_pendingSource->nativeDescriptor();
    auto from = static_cast<off_t>(m_pendingOffset);
    std::uint64_t left = m_pendingSize;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, 1u << 30));
        const ssize_t done = ::copy_file_range(in, &from, m_handle->fd, nullptr, want, 0);
        if (done > 0) {
            left -= static_cast<std::uint64_t>(done);
            m_flushed += static_cast<std::uint64_t>(done);
            continue;
        }
        if (done == 0)
            return AVIERR_FILEREAD;  // the source ended before the piece did
        if (errno == EINTR)
            continue;
        if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
            return AVIERR_FILEWRITE;
        if (left != m_pendingSize)
            return AVIERR_FILEWRITE;  // a copy that fails halfway leaves no way to resume cleanly
        // Not offered between these files (another file system, an old kernel, a pipe): copy
        // through the buffer from now on, which also tells a read failure from a write failure.
        m_kernelCopy = false;
        return AVIERR_OK;
    }
    // The copy brought the source's own chunk headers along; ours go over them.
    for (const Patch& patch : m_patches) {
        if (::pwrite(m_handle->fd, patch.bytes, patch.size,
                     static_cast<off_t>(base + patch.position)) != static_cast<ssize_t>(patch.size))
            return AVIERR_FILEWRITE;
    }
    *copied = true;
    return AVIERR_OK;
}

AviResult FileSink::commit() {
    AviResult result = flush();
    if (result != AVIERR_OK)
        return result;
    if (!m_handle->close())
        return AVIERR_FILEWRITE;
    result = RenameNoReplace(NativeOf(m_temp), NativeOf(m_target));
    if (result == AVIERR_OK)
        m_committed = true;
    return result;
}

#endif

AviResult FileSink::Create(const FilePath& target, std::unique_ptr<FileSink>* sink) {
    sink->reset();
    if (target.empty() || PathExists(target))
        return AVIERR_FILEOPEN;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        FilePath temp = TempPathBeside(target, NextSalt());
        auto handle = std::make_unique<Handle>();
        const NewFile created = CreateNewFile(temp, handle.get());
        if (created == NewFile::NameTaken)
            continue;
        if (created == NewFile::Failed)
            return AVIERR_FILEOPEN;
        sink->reset(new FileSink(target, std::move(temp), std::move(handle)));
        return AVIERR_OK;
    }
    return AVIERR_FILEOPEN;
}

FileSink::FileSink(FilePath target, FilePath temp, std::unique_ptr<Handle> handle)
    : m_target(std::move(target)), m_temp(std::move(temp)), m_handle(std::move(handle)) {
    m_buffer.resize(kBufferSize);
}

FileSink::~FileSink() {
    if (m_committed)
        return;
    m_handle->close();
    RemoveFile(m_temp);
}

AviResult FileSink::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        if (m_used == m_buffer.size()) {
            const AviResult result = flush();
            if (result != AVIERR_OK)
                return result;
        }
        const std::size_t take = std::min(size, m_buffer.size() - m_used);
        std::memcpy(m_buffer.data() + m_used, bytes, take);
        m_used += take;
        bytes += take;
        size -= take;
    }
    return AVIERR_OK;
}

AviResult FileSink::append(const ByteSource& source, std::uint64_t offset, std::uint64_t size) {
    if (size == 0)
        return AVIERR_OK;
    // Merge with the pending read when the source continues it with a gap exactly as long as what
    // was written since; the gap's bytes are put back after the read.
    if (m_pendingSource == &source && m_patches.size() < kMaxPatches) {
        const std::size_t pendingEnd = m_pendingPosition + m_pendingSize;
        const std::size_t gap = m_used - pendingEnd;
        if (gap <= sizeof(Patch::bytes) &&
            offset == m_pendingOffset + (m_used - m_pendingPosition) &&
            size <= m_buffer.size() - m_used) {
            if (gap > 0) {
                Patch patch{
                    static_cast<std::uint32_t>(pendingEnd), static_cast<std::uint32_t>(gap), {}};
                std::memcpy(patch.bytes, m_buffer.data() + pendingEnd, gap);
                m_patches.push_back(patch);
            }
            m_pendingSize = m_used - m_pendingPosition + static_cast<std::size_t>(size);
            m_used += static_cast<std::size_t>(size);
            return AVIERR_OK;
        }
    }
    while (size > 0) {
        AviResult result = settlePending();
        // A piece bigger than the room left starts on an empty buffer, to go in as few reads or
        // copies as it can.
        if (result == AVIERR_OK && size > m_buffer.size() - m_used)
            result = flush();
        if (result != AVIERR_OK)
            return result;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, m_buffer.size() - m_used));
        m_pendingSource = &source;
        m_pendingOffset = offset;
        m_pendingPosition = m_used;
        m_pendingSize = take;
        m_used += take;
        offset += take;
        size -= take;
    }
    return AVIERR_OK;
}

// Fetches the pending bytes: a big stretch of a file through the kernel straight into ours, with
// the buffer before it written first and the rest moved down; anything else read into the buffer.
AviResult FileSink::settlePending() {
    if (m_pendingSource == nullptr)
        return AVIERR_OK;
    AviResult result = AVIERR_OK;
    if (m_kernelCopy && m_pendingSize >= kKernelCopyMin * (m_patches.size() + 1) &&
        m_pendingSource->nativeDescriptor() >= 0) {
        const std::uint64_t base = m_flushed;  // where m_buffer[0] goes in the file
        result = writeOut(m_buffer.data(), m_pendingPosition);
        bool copied = false;
        if (result == AVIERR_OK)
            result = copyInKernel(base, &copied);
        const std::size_t from = copied ? m_pendingPosition + m_pendingSize : m_pendingPosition;
        std::memmove(m_buffer.data(), m_buffer.data() + from, m_used - from);
        m_used -= from;
        if (result != AVIERR_OK || copied) {
            m_pendingSource = nullptr;
            m_patches.clear();
            return result;
        }
        for (Patch& patch : m_patches)
            patch.position -= static_cast<std::uint32_t>(m_pendingPosition);
        m_pendingPosition = 0;
    }
    const bool read = m_pendingSource->readAt(m_pendingOffset, m_buffer.data() + m_pendingPosition,
                                              m_pendingSize);
    m_pendingSource = nullptr;
    for (const Patch& patch : m_patches)
        std::memcpy(m_buffer.data() + patch.position, patch.bytes, patch.size);
    m_patches.clear();
    return read ? AVIERR_OK : AVIERR_FILEREAD;
}

AviResult FileSink::flush() {
    AviResult result = settlePending();
    if (result != AVIERR_OK)
        return result;
    const std::size_t used = m_used;
    m_used = 0;
    return writeOut(m_buffer.data(), used);
}

}  // namespace avi
