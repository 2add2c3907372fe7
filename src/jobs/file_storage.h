// Internal: reading and atomically replacing a whole file (configuration files, reports), one
// source file per platform (file_storage_posix.cpp, file_storage_win32.cpp). Reasons are the
// system's words, e.g. "Permission denied".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zb::detail {

struct FileStatus {
    bool missing = false;  // the file, or a folder on its path, does not exist
    std::string reason;    // empty on success
    bool ok() const { return reason.empty(); }
};

// The whole file when it holds at most `max_size` bytes ("File too large" otherwise). A
// FIFO or device chosen by mistake does not block the program.
FileStatus ReadWholeFile(const std::string& path, std::size_t max_size, std::string* text);

// The folder exists, is a folder, and this user may create files in it; otherwise *error is
// "<folder>: <reason>".
bool CheckWritableFolder(const std::string& folder, std::string* error);

// What a file that does not exist yet is given: the permission bits 0666 less the umask where
// files have them; unused where a new file takes its folder's permissions. Taken once for a
// whole export.
std::uint32_t NewFileMode();

// Writes `text` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. An `existing` file keeps its permissions (and, where it may, its owner); a
// write-protected one is refused when `refuse_protected`, although its folder would let us
// replace it (Windows never replaces one). A new file gets `new_mode`. On failure no
// temporary file is left and the old file is unchanged.
FileStatus ReplaceWholeFile(const std::string& path, std::string_view text, bool existing,
                            std::uint32_t new_mode, bool refuse_protected = true);

}  // namespace zb::detail
