// Between an image file's samples and the host's planes: 16-bit samples move between the file's
// scale 0..65535 and the host's 0..32768.
#pragma once

#include "tools/host/HostSession.h"
#include "tools/host/ImageFile.h"

namespace quarvel::host {

HostImage toHostImage(const ImageFile& file);
// The plug-in's result back into `file`, at the file's scale.
void fromHostImage(const HostImage& image, ImageFile& file);

} // namespace quarvel::host
