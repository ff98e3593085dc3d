#include "tools/host/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::host {

namespace {

// Read once, while the program is still single-threaded: umask() can only be read by setting it.
const mode_t gCreationMask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

// The folder part resolved through its links, so that two spellings of one place compare equal;
// the name as given when the folder cannot be resolved (a missing folder is refused later anyway).
std::string comparablePath(const std::string& path)
{
    const std::string target = linkTarget(path);
    char resolved[PATH_MAX];
    if (!::realpath(folderOf(target).c_str(), resolved))
        return target;
    return joinPath(resolved, fileNameOf(target));
}

} // namespace

std::string lastSystemReason() { return std::strerror(errno); }

bool examineFile(const std::string& path, FileFacts& facts, std::string& reason)
{
    facts = FileFacts {};
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0) {
        const int code = errno;
        reason = std::strerror(code);
        return code == ENOENT || code == ENOTDIR;
    }
    facts.kind = S_ISREG(status.st_mode) ? FileKind::Regular
        : S_ISDIR(status.st_mode)        ? FileKind::Directory
        : S_ISFIFO(status.st_mode)       ? FileKind::Pipe
                                         : FileKind::Other;
    facts.readOnly
        = (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
    facts.volume = uint64_t(status.st_dev);
    facts.index = uint64_t(status.st_ino);
    facts.mode = uint32_t(status.st_mode & 07777);
    facts.owner = uint32_t(status.st_uid);
    facts.group = uint32_t(status.st_gid);
    return true;
}

bool canReadFile(const std::string& path, std::string& reason)
{
    // Asked rather than tried, like the system would answer an open.
    if (::access(path.c_str(), R_OK) == 0)
        return true;
    reason = lastSystemReason();
    return false;
}

std::string linkTarget(const std::string& path)
{
    std::string current = path;
    // As many as the kernel itself follows before it calls it a loop.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat status { };
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
        if (length <= 0)
            return current;
        const std::string next(target, size_t(length));
        current = next[0] == '/' ? next : joinPath(folderOf(current), next);
    }
    return current;
}

std::string fileKey(const std::string& path)
{
    FileFacts facts;
    std::string reason;
    if (examineFile(path, facts, reason) && facts.kind != FileKind::Missing)
        return "file " + std::to_string(facts.volume) + ":" + std::to_string(facts.index);
    return "name " + comparablePath(path);
}

bool makeFolder(const std::string& path, std::string& reason)
{
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    const int code = errno;
    struct stat status { };
    if (code == EEXIST && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    reason = code == EEXIST ? "it is not a folder" : std::strerror(code);
    return false;
}

bool createNewFile(const std::string& path, bool& exists, std::string& reason)
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    exists = descriptor < 0 && errno == EEXIST;
    if (descriptor < 0) {
        reason = lastSystemReason();
        return false;
    }
    ::close(descriptor);
    return true;
}

bool replaceFile(
    const std::string& temporary, const std::string& target, const FileFacts& replaced, std::string& reason)
{
    if (replaced.kind == FileKind::Regular) {
        // Only root may give a file away; anyone may keep a group they belong to.
        if (replaced.owner != uint32_t(::geteuid()) || replaced.group != uint32_t(::getegid())) {
            bool kept = ::chown(temporary.c_str(), uid_t(replaced.owner), gid_t(replaced.group)) == 0;
            if (!kept)
                kept = ::chown(temporary.c_str(), uid_t(-1), gid_t(replaced.group)) == 0;
            // Where neither works the file stays ours, and the permission bits below still say
            // who else may read it.
            static_cast<void>(kept);
        }
        // After chown, which may clear the set-id bits.
        if (::chmod(temporary.c_str(), mode_t(replaced.mode)) != 0) {
            reason = lastSystemReason();
            return false;
        }
    } else if (::chmod(temporary.c_str(), 0666 & ~gCreationMask) != 0) {
        reason = lastSystemReason();
        return false;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        reason = lastSystemReason();
        return false;
    }
    return true;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

} // namespace quarvel::host
