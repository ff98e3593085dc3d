// Replacing a file whole or not at all. The new content goes into a fresh file beside the old
// one, and only once it is complete and on disk does one rename put it in the old one's place:
// a full disk, a failed write or a crash part-way leaves the old file as it was, never a short
// one.
#pragma once

#include <functional>
#include <string>

namespace quarvel {

// `write` fills the file whose path it is given (created empty, in the folder of `path`) and
// answers whether that succeeded. True when `path` now holds what it wrote; false, with `path`
// untouched and nothing left behind, when the temporary file could not be made, `write` failed
// or the rename was refused (a read-only file, a path too long for the file system).
bool replaceFile(const std::string& path, const std::function<bool(const char* temporaryPath)>& write);

} // namespace quarvel
