#include "tools/host/OutputFile.h"

#include <cstdio>
#include <random>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quarvel::host {

namespace {

std::string temporaryBeside(const std::string& path)
{
    std::random_device seed;
    char tag[32];
    std::snprintf(tag, sizeof tag, ".%08x.tmp", unsigned(seed()));
    return path + tag;
}

bool replaceFile(const std::string& from, const std::string& to)
{
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

bool writeOutputAtomically(const std::string& path, ImageFormat format, const ImageFile& image,
                           std::string& error)
{
    const std::string temporary = temporaryBeside(path);
    if (!writeImageFile(temporary, format, image, error)) {
        std::remove(temporary.c_str());
        return false;
    }
    if (!replaceFile(temporary, path)) {
        error = "cannot move the finished image into place";
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace quarvel::host
