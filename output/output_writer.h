// Output writer: every file the programs write, a regular file replaced whole, anything else a
// stream.
#pragma once

#include <string>
#include <string_view>

/// Writes `text` to `path`, gzip-compressed when the name ends in ".gz" (any case).
/// "-", /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N, or a link to them, are the
/// descriptors the program holds, written as they are. A FIFO, a device or any other file that
/// is not a regular one is opened and written as a stream. A regular file, or none yet, is
/// written to a temporary file in its folder, synced and renamed over it, with the permission
/// bits of the file it replaces; a symbolic link is followed, and the file it names replaced the
/// same way. With `replaceFile` false a regular file that already stands there is left as it is
/// and nothing is written: returns false. A directory is refused with nothing changed. Throws
/// std::runtime_error "<path>: cannot write: <cause>" ("standard output" for "-"); the file
/// stays as it was.
bool writeOutput(const std::string& path, std::string_view text, bool replaceFile);

/// Flushes standard output and closes it, so that a write that failed late (a full disk) is
/// not lost. Throws std::runtime_error "standard output: cannot write: <cause>".
void closeStandardOutput();

/// A program's status once standard output is closed: `status`, or, when the close fails,
/// `failedStatus` after one line "<program>: standard output: cannot write: <cause>" on
/// standard error.
int statusAfterClosingStandardOutput(std::string_view program, int status, int failedStatus);
