// A file the host writes, whole or not at all. It is checked before the run, written to a
// temporary with a short name (".qv" and six random characters) beside the file it lands in
// (the target of a symbolic link, not the link), and renamed over that file only on commit, with
// the permissions, owner and attributes of the file it replaces. Until then the temporary is
// removed by the destructor and by the termination signals (Console.h).
#pragma once

#include "tools/host/FileSystem.h"

#include <string>

namespace quarvel::host {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Refuses a folder, a device or pipe, a name whose folder is missing, and a read-only file
    // unless `force`; then makes the temporary, which proves the folder takes new files.
    // `error` reads "cannot write PATH: why".
    bool prepare(const std::string& path, bool force, std::string& error);

    const std::string& path() const { return path_; }
    const std::string& temporary() const { return temporary_; }
    // A message about the temporary, told with the user's name for the file instead.
    std::string inUserTerms(std::string message) const;

    bool commit(std::string& error);
    void discard();

private:
    std::string path_;
    std::string target_;
    FileFacts replaced_;
    std::string temporary_;
    int watchSlot_ = -1;
};

} // namespace quarvel::host
