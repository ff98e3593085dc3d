#include "tools/host/OutputFile.h"

#include "tools/host/Console.h"

#include <random>

namespace quarvel::host {

namespace {

// Short, so that the longest name the file system takes can still be replaced this way.
std::string temporaryName(std::mt19937& random)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".qv";
    for (int i = 0; i < 6; ++i)
        name += letters[random() % (sizeof letters - 1)];
    return name + ".tmp";
}

} // namespace

OutputFile::~OutputFile() { discard(); }

bool OutputFile::prepare(const std::string& path, bool force, std::string& error)
{
    discard();
    path_ = path;
    target_ = linkTarget(path);
    auto refuse = [&](const std::string& why) {
        error = "cannot write " + path + ": " + why;
        return false;
    };
    std::string reason;
    if (!examineFile(target_, replaced_, reason))
        return refuse(reason);
    switch (replaced_.kind) {
    case FileKind::Directory:
        return refuse("it is a folder");
    case FileKind::Pipe:
    case FileKind::Other:
        return refuse("not a regular file, which the finished file would replace");
    case FileKind::Regular:
        if (replaced_.readOnly && !force)
            return refuse("the file is read-only (--force replaces it, and it stays read-only)");
        break;
    case FileKind::Missing:
        break;
    }
    const std::string folder = folderOf(target_);
    FileFacts folderFacts;
    if (!examineFile(folder, folderFacts, reason))
        return refuse(reason);
    if (folderFacts.kind == FileKind::Missing)
        return refuse("the folder " + folder + " does not exist");
    if (folderFacts.kind != FileKind::Directory)
        return refuse(folder + " is not a folder");

    std::mt19937 random(std::random_device {}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = joinPath(folder, temporaryName(random));
        // Watched before it exists: a signal in between removes a file that is not there yet.
        const int slot = watchTemporaryFile(candidate);
        bool taken = false;
        if (createNewFile(candidate, taken, reason)) {
            temporary_ = candidate;
            watchSlot_ = slot;
            return true;
        }
        forgetTemporaryFile(slot);
        if (!taken)
            return refuse(reason);
    }
    return refuse("no unused temporary name in " + folder);
}

std::string OutputFile::inUserTerms(std::string message) const
{
    if (temporary_.empty())
        return message;
    for (size_t at = message.find(temporary_); at != std::string::npos;
         at = message.find(temporary_, at + path_.size()))
        message.replace(at, temporary_.size(), path_);
    return message;
}

bool OutputFile::commit(std::string& error)
{
    std::string reason;
    if (!replaceFile(temporary_, target_, replaced_, reason)) {
        error = "cannot write " + path_ + ": " + reason;
        discard();
        return false;
    }
    forgetTemporaryFile(watchSlot_);
    watchSlot_ = -1;
    temporary_.clear();
    return true;
}

void OutputFile::discard()
{
    if (temporary_.empty())
        return;
    removeFile(temporary_);
    forgetTemporaryFile(watchSlot_);
    watchSlot_ = -1;
    temporary_.clear();
}

} // namespace quarvel::host
