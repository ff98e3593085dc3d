#include "tools/host/ImageFile.h"

#include <cctype>

namespace quarvel::host {

ImageFormat formatFromPath(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return ImageFormat::Unknown;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "png")
        return ImageFormat::Png;
    if (extension == "tif" || extension == "tiff")
        return ImageFormat::Tiff;
    if (extension == "jpg" || extension == "jpeg")
        return ImageFormat::Jpeg;
    return ImageFormat::Unknown;
}

} // namespace quarvel::host
