// Output file: mkstemp beside the target, a checked write (deflated for .gz), fsync, rename.
#include "export/output_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace {

// zlib's window bits for its largest window, plus 16 for a gzip wrapper instead of zlib's.
constexpr int gzipWindowBits = 15 + 16;

// zlib's default memory level.
constexpr int deflateMemoryLevel = 8;

// Input handed to deflate at once, within its 32-bit counts.
constexpr std::size_t deflateChunkBytes = std::size_t{1} << 30;

[[noreturn]] void failWrite(const std::string& path, const std::string& cause) {
    throw std::runtime_error(path + ": cannot write: " + cause);
}

void writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t wrote = write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            failWrite(path, std::strerror(wrote < 0 ? errno : EIO));
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

// One gzip member with zlib's fixed header (no name, no time), so that a capture always
// compresses to the same bytes.
void writeGzip(int fd, std::string_view text, const std::string& path) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, gzipWindowBits, deflateMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
    }
    const std::unique_ptr<z_stream, decltype(&deflateEnd)> end(&stream, deflateEnd);
    std::array<char, std::size_t{1} << 16> buffer{};
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            const std::size_t take = std::min(text.size(), deflateChunkBytes);
            stream.next_in = reinterpret_cast<const Bytef*>(text.data());
            stream.avail_in = static_cast<uInt>(take);
            text.remove_prefix(take);
        }
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = deflate(&stream, text.empty() ? Z_FINISH : Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            failWrite(path, "compression failed");
        }
        writeAll(fd, std::string_view(buffer.data(), buffer.size() - stream.avail_out), path);
    }
}

constexpr mode_t permissionBits = S_ISUID | S_ISGID | S_ISVTX | S_IRWXU | S_IRWXG | S_IRWXO;
constexpr mode_t readWriteForAll = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;

// The permission bits of the file being replaced, else those of a new file under the umask.
mode_t permissionsFor(const std::string& target) {
    struct stat status {};
    if (stat(target.c_str(), &status) == 0) {
        return status.st_mode & permissionBits;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return readWriteForAll & ~mask;
}

// A file made beside its target; the destructor removes it unless it was moved into place.
class TemporaryFile {
  public:
    // Named after the target, hidden; errors name `shown`, the path as the user gave it.
    TemporaryFile(const std::string& target, std::string shown) : shown_(std::move(shown)) {
        const std::size_t slash = target.rfind('/');
        const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
        path_ = target.substr(0, nameAt) + "." + target.substr(nameAt) + ".XXXXXX";
        fd_ = mkstemp(path_.data());
        if (fd_ < 0) {
            failWrite(shown_, std::strerror(errno));
        }
    }
    ~TemporaryFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
        if (!moved_) {
            unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_; }

    // Permission bits, then the data on disk, then the close, whose error counts too.
    void complete(mode_t mode) {
        if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0 || close(std::exchange(fd_, -1)) != 0) {
            failWrite(shown_, std::strerror(errno));
        }
    }

    // Renames the file to `target`; without `replace`, false when a file stands there.
    bool moveTo(const std::string& target, bool replace) {
        if (replace ? std::rename(path_.c_str(), target.c_str()) == 0
                    : renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(),
                                RENAME_NOREPLACE) == 0) {
            moved_ = true;
            return true;
        }
        // A file system without the no-replace rename: a hard link refuses a taken name too,
        // and the destructor removes the temporary name.
        if (!replace && errno == EINVAL && link(path_.c_str(), target.c_str()) == 0) {
            return true;
        }
        if (!replace && errno == EEXIST) {
            return false;
        }
        failWrite(shown_, std::strerror(errno));
    }

  private:
    std::string shown_;
    std::string path_;
    int fd_ = -1;
    bool moved_ = false;
};

// Without regard to case: "out.JSON.GZ" is gzipped too. `end` is in lower case.
bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char lower, char given) {
                          return lower == std::tolower(static_cast<unsigned char>(given));
                      });
}

// A symbolic link is followed, so that the file it names is replaced and the link stays.
std::string followLinks(const std::string& path) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return error ? path : target.string();
}

}  // namespace

bool writeOutputFile(const std::string& path, std::string_view text, bool replace) {
    const std::string target = followLinks(path);
    struct stat status {};
    if (!replace && lstat(target.c_str(), &status) == 0) {
        return false;
    }
    TemporaryFile file(target, path);
    if (endsWith(path, ".gz")) {
        writeGzip(file.fd(), text, path);
    } else {
        writeAll(file.fd(), text, path);
    }
    file.complete(permissionsFor(target));
    return file.moveTo(target, replace);
}
