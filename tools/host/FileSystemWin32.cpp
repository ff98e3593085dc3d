#include "tools/host/FileSystem.h"

#include <windows.h>

#include <cctype>

namespace quarvel::host {

namespace {

// What a replacement carries over; the rest (directory, compression, …) belongs to the file.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
    | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE openForQuery(const std::string& path, DWORD access)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// No links are followed: the name is compared as the system spells it in full, and, as the file
// systems do, without regard to case.
std::string comparablePath(const std::string& path)
{
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), DWORD(sizeof full), full, nullptr);
    std::string result = length > 0 && length < sizeof full ? std::string(full, length) : path;
    for (char& c : result)
        c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

} // namespace

std::string lastSystemReason()
{
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, text, DWORD(sizeof text), nullptr);
    std::string reason(text, length);
    while (!reason.empty()
        && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.' || reason.back() == ' '))
        reason.pop_back();
    return reason.empty() ? "system error " + std::to_string(code) : reason;
}

bool examineFile(const std::string& path, FileFacts& facts, std::string& reason)
{
    facts = FileFacts {};
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        reason = lastSystemReason();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    facts.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    facts.mode = uint32_t(attributes);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        facts.kind = FileKind::Directory;
        return true;
    }
    facts.kind = FileKind::Other;
    const HANDLE handle = openForQuery(path, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return true;
    const DWORD type = GetFileType(handle);
    facts.kind = type == FILE_TYPE_DISK ? FileKind::Regular
        : type == FILE_TYPE_PIPE        ? FileKind::Pipe
                                        : FileKind::Other;
    BY_HANDLE_FILE_INFORMATION information = {};
    if (GetFileInformationByHandle(handle, &information)) {
        facts.volume = information.dwVolumeSerialNumber;
        facts.index = uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    }
    CloseHandle(handle);
    return true;
}

bool canReadFile(const std::string& path, std::string& reason)
{
    const HANDLE handle = openForQuery(path, GENERIC_READ);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = lastSystemReason();
        return false;
    }
    CloseHandle(handle);
    return true;
}

std::string linkTarget(const std::string& path) { return path; }

std::string fileKey(const std::string& path)
{
    FileFacts facts;
    std::string reason;
    if (examineFile(path, facts, reason) && facts.kind != FileKind::Missing
        && (facts.volume | facts.index) != 0)
        return "file " + std::to_string(facts.volume) + ":" + std::to_string(facts.index);
    return "name " + comparablePath(path);
}

bool makeFolder(const std::string& path, std::string& reason)
{
    if (CreateDirectoryA(path.c_str(), nullptr))
        return true;
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES
        && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    SetLastError(code);
    reason = code == ERROR_ALREADY_EXISTS ? "it is not a folder" : lastSystemReason();
    return false;
}

bool createNewFile(const std::string& path, bool& exists, std::string& reason)
{
    const HANDLE handle
        = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        reason = lastSystemReason();
        return false;
    }
    exists = false;
    CloseHandle(handle);
    return true;
}

bool replaceFile(
    const std::string& temporary, const std::string& target, const FileFacts& replaced, std::string& reason)
{
    const DWORD kept = replaced.kind == FileKind::Regular ? DWORD(replaced.mode) & kKeptAttributes : 0;
    // A read-only file cannot be replaced; only a forced run comes here with one.
    if (kept & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(target.c_str(),
            kept == FILE_ATTRIBUTE_READONLY ? FILE_ATTRIBUTE_NORMAL : kept & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (!MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = lastSystemReason();
        if (kept & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(target.c_str(), kept);
        return false;
    }
    if (kept != 0)
        SetFileAttributesA(target.c_str(), kept);
    return true;
}

void removeFile(const std::string& path) { DeleteFileA(path.c_str()); }

} // namespace quarvel::host
