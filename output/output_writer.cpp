// Output writer: descriptors and streams written as they are; regular files through mkstemp
// beside the target, a checked write (deflated for .gz), fsync and rename.
#include "output/output_writer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
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

// Symbolic links followed from a path before it counts as a loop, as the kernel's limit.
constexpr int maxLinkHops = 40;

// Names of the descriptors a program is started with.
struct DescriptorName {
    std::string_view name;
    int fd;
};
constexpr std::array<DescriptorName, 3> descriptorNames{{
    {"-", STDOUT_FILENO},
    {"/dev/stdout", STDOUT_FILENO},
    {"/dev/stderr", STDERR_FILENO},
}};

// Folders whose entries name a descriptor by its number.
constexpr std::array<std::string_view, 2> descriptorFolders{"/dev/fd/", "/proc/self/fd/"};

// Digits of a descriptor number, well within an int.
constexpr std::size_t maxDescriptorDigits = 9;

[[noreturn]] void failWrite(const std::string& shown, const std::string& cause) {
    throw std::runtime_error(shown + ": cannot write: " + cause);
}

[[noreturn]] void failWrite(const std::string& shown, int error) {
    failWrite(shown, std::strerror(error));
}

void writeAll(int fd, std::string_view bytes, const std::string& shown) {
    while (!bytes.empty()) {
        const ssize_t wrote = write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            failWrite(shown, wrote < 0 ? errno : EIO);
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
}

// One gzip member with zlib's fixed header (no name, no time), so that the same text always
// compresses to the same bytes.
void writeGzip(int fd, std::string_view text, const std::string& shown) {
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
            failWrite(shown, "compression failed");
        }
        writeAll(fd, std::string_view(buffer.data(), buffer.size() - stream.avail_out), shown);
    }
}

// The text as such, or as gzip when the name asks for it.
void writeText(int fd, std::string_view text, bool gzip, const std::string& shown) {
    if (gzip) {
        writeGzip(fd, text, shown);
    } else {
        writeAll(fd, text, shown);
    }
}

bool endsWithGz(std::string_view name) {
    constexpr std::string_view suffix = ".gz";
    return name.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(),
                      [](char wanted, char given) {
                          return wanted == std::tolower(static_cast<unsigned char>(given));
                      });
}

// The descriptor a name stands for, if it names one.
std::optional<int> namedDescriptor(std::string_view path) {
    for (const DescriptorName& entry : descriptorNames) {
        if (path == entry.name) {
            return entry.fd;
        }
    }
    for (const std::string_view folder : descriptorFolders) {
        if (path.substr(0, folder.size()) != folder) {
            continue;
        }
        const std::string_view number = path.substr(folder.size());
        if (!number.empty() && number.size() <= maxDescriptorDigits &&
            std::all_of(number.begin(), number.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
            return std::stoi(std::string(number));
        }
    }
    return std::nullopt;
}

// An open descriptor, closed once; a failed close is a failed write.
class Stream {
  public:
    Stream(const std::string& path, std::string shown) : shown_(std::move(shown)) {
        fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) {
            failWrite(shown_, errno);
        }
    }
    ~Stream() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    int fd() const { return fd_; }

    void complete() {
        if (close(std::exchange(fd_, -1)) != 0) {
            failWrite(shown_, errno);
        }
    }

  private:
    std::string shown_;
    int fd_ = -1;
};

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

// The folder part of a path, with its slash; "" for a name alone.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// A file made beside its target; the destructor removes it unless it was moved into place.
class TemporaryFile {
  public:
    // Named after the target, hidden; errors name `shown`, the path as the user gave it.
    TemporaryFile(const std::string& target, std::string shown) : shown_(std::move(shown)) {
        const std::string folder = folderOf(target);
        path_ = folder + "." + target.substr(folder.size()) + ".XXXXXX";
        fd_ = mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            failWrite(shown_, errno);
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
            failWrite(shown_, errno);
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
        failWrite(shown_, errno);
    }

  private:
    std::string shown_;
    std::string path_;
    int fd_ = -1;
    bool moved_ = false;
};

// What the symbolic links of a path's last component lead to, that name itself when it is no
// link, so that the file a link names is replaced and the link stays. The folders on the way
// are the kernel's to follow. A descriptor's name ends the way: /dev/stdout leads on to
// whatever standard output is open on, which is written as it is.
std::string followLinks(std::string path, const std::string& shown) {
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        struct stat status {};
        if (namedDescriptor(path) || lstat(path.c_str(), &status) != 0 ||
            !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::array<char, PATH_MAX> target{};
        const ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
            failWrite(shown, length < 0 ? errno : ENAMETOOLONG);
        }
        const std::string next(target.data(), static_cast<std::size_t>(length));
        path = next.rfind('/', 0) == 0 ? next : folderOf(path) + next;
    }
    failWrite(shown, ELOOP);
}

// A regular file, or a name where none stands yet, replaced whole.
bool replaceWhole(const std::string& target, std::string_view text, bool gzip, bool replace,
                  const std::string& shown) {
    struct stat status {};
    if (!replace && lstat(target.c_str(), &status) == 0) {
        return false;
    }
    TemporaryFile file(target, shown);
    writeText(file.fd(), text, gzip, shown);
    file.complete(permissionsFor(target));
    return file.moveTo(target, replace);
}

}  // namespace

bool writeOutput(const std::string& path, std::string_view text, bool replaceFile) {
    const std::string shown = path == "-" ? "standard output" : path;
    const bool gzip = endsWithGz(path);
    const std::string target = followLinks(path, shown);
    if (const std::optional<int> fd = namedDescriptor(target)) {
        // What the program printed before goes first.
        std::cout.flush();
        writeText(*fd, text, gzip, shown);
        return true;
    }
    struct stat status {};
    if (stat(target.c_str(), &status) != 0) {
        // Nothing there yet, or a link to nothing: a new file. Any other cause is the answer.
        if (errno != ENOENT) {
            failWrite(shown, errno);
        }
    } else if (S_ISDIR(status.st_mode)) {
        failWrite(shown, EISDIR);
    } else if (!S_ISREG(status.st_mode)) {
        // A FIFO or a device: written through, never renamed over or removed.
        Stream stream(target, shown);
        writeText(stream.fd(), text, gzip, shown);
        stream.complete();
        return true;
    }
    return replaceWhole(target, text, gzip, replaceFile, shown);
}

void closeStandardOutput() {
    const std::string shown = "standard output";
    errno = 0;
    std::cout.flush();
    if (!std::cout || std::ferror(stdout) != 0) {
        failWrite(shown, errno != 0 ? std::strerror(errno) : "write failed");
    }
    // Closed already when the program started, with nothing written: nothing lost.
    if (close(STDOUT_FILENO) != 0 && errno != EBADF) {
        failWrite(shown, errno);
    }
}

int statusAfterClosingStandardOutput(std::string_view program, int status, int failedStatus) {
    try {
        closeStandardOutput();
    } catch (const std::exception& failure) {
        std::cerr << program << ": " << failure.what() << "\n";
        return failedStatus;
    }
    return status;
}
