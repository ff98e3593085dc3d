#include "core/ImageFilter.h"

namespace quarvel {

int ImageFilter::analyze(const ImageBuffer&) { return 0; }

int ImageFilter::reportProgress(int stage, int32_t done, int32_t total)
{
    return owner ? owner->onProgress(this, stage, done, total) : 0;
}

} // namespace quarvel
