#include "control/ImageFilter.h"

#include "control/DialogView.h"
#include "control/ProcessingController.h"

namespace quarvel {

int ImageFilter::analyze(const ImageBuffer&) { return 0; }

int ImageFilter::reportProgress(int stage, int32_t done, int32_t total)
{
    return owner ? owner->onProgress(this, stage, done, total) : 0;
}

void DialogView::progress(int, int32_t, int32_t) {}

} // namespace quarvel
