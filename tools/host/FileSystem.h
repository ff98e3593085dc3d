// The file system as the host needs it around a photographer's files: what a name stands for,
// where writing to it lands, and a replacement made in one step that keeps what the replaced
// file had. Every failure comes with the system's own reason, in its words.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel::host {

enum class FileKind { Missing, Regular, Directory, Pipe, Other };

struct FileFacts {
    FileKind kind = FileKind::Missing;
    // Nobody is to write it: no write permission bit at all (even root is told so), or the
    // read-only attribute on Windows.
    bool readOnly = false;
    // Which file it is, whatever the name: two hard or symbolic links to one file compare equal.
    uint64_t volume = 0;
    uint64_t index = 0;
    // What a replacement keeps: permission bits, owner and group (POSIX), attributes (Windows).
    uint32_t mode = 0;
    uint32_t owner = 0;
    uint32_t group = 0;
};

// Follows symbolic links. A name that leads nowhere is kind Missing (with the system's reason),
// not a failure; false with the reason when the name cannot be looked at (a folder on the way
// is not searchable).
bool examineFile(const std::string& path, FileFacts& facts, std::string& reason);
// Whether this process may open a regular file for reading. (A pipe is not asked: on Windows
// the asking would take its one connection.)
bool canReadFile(const std::string& path, std::string& reason);

// Refuses, as "cannot read PATH: why", what no reader of a whole file can take: a missing or
// unreadable file, a folder, a device or socket. Regular files and pipes pass.
bool checkReadableFile(const std::string& path, std::string& error);

// The file a write to `path` lands in: the end of its chain of symbolic links (a dangling
// link's target included), or `path` itself. Windows builds take the name as it is.
std::string linkTarget(const std::string& path);
// Equal for two names of one file: for an existing file its identity (so hard and symbolic
// links to it agree), for a missing one the place it would be, with the links followed.
std::string fileKey(const std::string& path);
inline bool isSameFile(const std::string& a, const std::string& b) { return fileKey(a) == fileKey(b); }

std::string folderOf(const std::string& path); // "." for a bare name
std::string fileNameOf(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);

// Creates one folder (its parent must exist); an existing folder is no failure.
bool makeFolder(const std::string& path, std::string& reason);
// Creates `path` new and empty, readable by its owner only; false if anything is there.
// `exists` tells a taken name from other failures.
bool createNewFile(const std::string& path, bool& exists, std::string& reason);
bool writeWholeFile(const std::string& path, const std::string& bytes, std::string& reason);
// Renames `temporary` over `target` in one step, after giving it the permissions and owner of
// `replaced` (the target as it was before the run), or those of a new file when there was none.
bool replaceFile(
    const std::string& temporary, const std::string& target, const FileFacts& replaced, std::string& reason);
void removeFile(const std::string& path);

// The system's words for its last error (errno, or GetLastError on Windows).
std::string lastSystemReason();

} // namespace quarvel::host
