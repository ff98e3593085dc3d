// Between an image file's samples and the host's planes. 8-bit samples are the same on both
// sides and move, never copied. 16-bit samples are converted between the file's scale 0..65535
// and the host's 0..32768; the file keeps its own samples meanwhile, so that every sample the
// plug-in left alone, and the transparency plane always, comes back exactly as it was read.
#pragma once

#include "tools/host/HostSession.h"
#include "tools/host/ImageFile.h"

namespace quarvel::host {

// An 8-bit file gives its pixels up to the host image (they are empty until fromHostImage).
HostImage toHostImage(ImageFile& file);
// The plug-in's result back into `file`, at the file's scale; `image` gives up its samples.
void fromHostImage(HostImage& image, ImageFile& file);

} // namespace quarvel::host
