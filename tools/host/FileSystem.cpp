#include "tools/host/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarvel::host {

namespace {

size_t lastSeparator(const std::string& path)
{
#if defined(_WIN32)
    return path.find_last_of("/\\");
#else
    return path.find_last_of('/');
#endif
}

} // namespace

std::string folderOf(const std::string& path)
{
    const size_t slash = lastSeparator(path);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path)
{
    const size_t slash = lastSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder == ".")
        return name;
    const char last = folder.back();
    if (last == '/' || last == '\\')
        return folder + name;
    return folder + "/" + name;
}

bool checkReadableFile(const std::string& path, std::string& error)
{
    FileFacts facts;
    std::string reason;
    if (!examineFile(path, facts, reason)) {
        error = "cannot read " + path + ": " + reason;
        return false;
    }
    switch (facts.kind) {
    case FileKind::Missing:
        error = "cannot read " + path + ": " + reason;
        return false;
    case FileKind::Directory:
        error = "cannot read " + path + ": it is a folder";
        return false;
    case FileKind::Other:
        error = "cannot read " + path + ": not a regular file";
        return false;
    case FileKind::Pipe:
        return true;
    case FileKind::Regular:
        break;
    }
    if (!canReadFile(path, reason)) {
        error = "cannot read " + path + ": " + reason;
        return false;
    }
    return true;
}

bool writeWholeFile(const std::string& path, const std::string& bytes, std::string& reason)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    // The data is only known to be in the file once it is closed.
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        reason = errno ? std::strerror(errno) : "the file could not be completed";
        return false;
    }
    return true;
}

} // namespace quarvel::host
