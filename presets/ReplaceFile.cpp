// A replacement by temporary file and rename, with Win32's MoveFileEx, which replaces an existing
// file in one step where the C library's rename refuses to.
#include "presets/ReplaceFile.h"

#include <windows.h>

#include <cstdio>

namespace quarvel {

namespace {

std::string folderOf(const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// A new, empty file beside `path` whose name no listing of presets or settings matches; empty
// when none could be made.
std::string createTemporaryBeside(const std::string& path)
{
    static unsigned counter = 0;
    const std::string folder = folderOf(path);
    for (int attempt = 0; attempt < 64; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "~qv%08lx.tmp",
            static_cast<unsigned long>(GetCurrentProcessId() * 2654435761u + GetTickCount() + ++counter));
        const std::string candidate = folder + name;
        HANDLE file = CreateFileA(
            candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return candidate;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    return {};
}

// What was written through the C library's buffers reaches the disk before the rename makes it
// the file: otherwise a power loss could leave the new name on empty blocks.
bool flushToDisk(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    return flushed;
}

} // namespace

bool replaceFile(const std::string& path, const std::function<bool(const char* temporaryPath)>& write)
{
    // Windows refuses to replace a read-only file by rename as it refuses to open it for writing;
    // asking first keeps that answer the same on every system.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const std::string temporary = createTemporaryBeside(path);
    if (temporary.empty())
        return false;
    const bool replaced = write(temporary.c_str()) && flushToDisk(temporary)
        && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced)
        DeleteFileA(temporary.c_str());
    return replaced;
}

} // namespace quarvel
