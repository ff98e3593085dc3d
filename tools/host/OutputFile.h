// Output files appear whole or not at all: the image goes to a temporary file beside the
// destination and is renamed over it only once it is completely written.
#pragma once

#include "tools/host/ImageFile.h"

#include <string>

namespace quarvel::host {

bool writeOutputAtomically(const std::string& path, ImageFormat format, const ImageFile& image,
                           std::string& error);

} // namespace quarvel::host
