#include "byte_io.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace avi {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        AppendUtf8(out, c);
    }
    return out;
}

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        if (offset > m_bytes.size() || count > m_bytes.size() - offset)
            return false;
        std::copy_n(m_bytes.data() + offset, count, static_cast<std::uint8_t*>(buffer));
        return true;
    }
    std::string name() const override { return "<memory>"; }

private:
    std::vector<std::uint8_t> m_bytes;
};

#ifdef _WIN32

class FileSource final : public ByteSource {
public:
    FileSource(HANDLE handle, std::uint64_t size, std::string name)
        : m_handle(handle), m_size(size), m_name(std::move(name)) {}
    ~FileSource() override { CloseHandle(m_handle); }
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (count > 0) {
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD got = 0;
            if (!ReadFile(m_handle, out, want, &got, &at) || got == 0)
                return false;
            out += got;
            offset += got;
            count -= got;
        }
        return true;
    }
    std::string name() const override { return m_name; }

private:
    HANDLE m_handle;
    std::uint64_t m_size;
    std::string m_name;
};

#else

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size, std::string name)
        : m_fd(fd), m_size(size), m_name(std::move(name)) {}
    ~FileSource() override { ::close(m_fd); }
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (count > 0) {
            const ssize_t got = ::pread(m_fd, out, count, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += static_cast<std::uint64_t>(got);
            count -= static_cast<std::size_t>(got);
        }
        return true;
    }
    int nativeDescriptor() const override { return m_fd; }
    std::string name() const override { return m_name; }

private:
    int m_fd;
    std::uint64_t m_size;
    std::string m_name;
};

#endif

}  // namespace

std::string FilePath::display() const {
    return isWide ? Utf16ToUtf8(wide) : narrow;
}

AviResult OpenFileSource(const FilePath& path, std::shared_ptr<ByteSource>* source) {
    *source = nullptr;
    if (path.empty())
        return AVIERR_FILEOPEN;
#ifdef _WIN32
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle =
        path.isWide ? CreateFileW(reinterpret_cast<const wchar_t*>(path.wide.c_str()), GENERIC_READ,
                                  share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                    : CreateFileA(path.narrow.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return AVIERR_FILEOPEN;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size) || GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return AVIERR_FILEOPEN;
    }
    *source = std::make_shared<FileSource>(handle, static_cast<std::uint64_t>(size.QuadPart),
                                           path.display());
#else
    const std::string native = path.display();
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return AVIERR_FILEOPEN;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return AVIERR_FILEOPEN;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    *source = std::make_shared<FileSource>(fd, static_cast<std::uint64_t>(info.st_size), native);
#endif
    return AVIERR_OK;
}

std::shared_ptr<ByteSource> MakeMemorySource(std::vector<std::uint8_t> bytes) {
    return std::make_shared<MemorySource>(std::move(bytes));
}

std::string FourCCText(std::uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(fourcc >> (8 * i));
        if (c < 0x20 || c >= 0x7F) {
            // Not a readable code, such as the 1 some writers put in an audio handler.
            char number[16];
            std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(fourcc));
            return number;
        }
        text += c;
    }
    return text;
}

}  // namespace avi
