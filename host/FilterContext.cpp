// Progress, abort and the image request: the parts of a call that talk to the host's record.
#include "host/FilterContext.h"

#include "platform/Platform.h"

#include <cstring>

namespace quarvel {

using namespace pluginapi;

int FilterContext::pollAbort()
{
    if (!filterRecord || !filterRecord->abortProc)
        return 0;
    return filterRecord->abortProc() & 0xFF;
}

int FilterContext::reportToHost(int mode, int32_t done, int32_t total)
{
    if (!filterRecord)
        return 0;
    switch (mode) {
    case 1:
        if (filterRecord->progressProc)
            filterRecord->progressProc(done, total);
        return pollAbort();
    case 2:
        return pollAbort();
    default:
        return 0;
    }
}

int16_t FilterContext::requestImage()
{
    FilterRecord& r = *filterRecord;
    r.inLoPlane = 0;
    r.outLoPlane = 0;
    r.inHiPlane = int16_t(r.planes - 1);
    r.outHiPlane = int16_t(r.planes - 1);
    r.inRect = r.filterRect;
    r.outRect = r.filterRect;
    r.maskRect = r.filterRect;
    r.inputRate = 0x10000;
    r.maskRate = 0x10000;

    if (!r.advanceState)
        return errPlugInHostInsufficient;
    OSErr err = r.advanceState();
    if (err != noErr)
        return err;
    // Only three colour planes are ever transferred; anything narrower would be read past.
    if (r.planes < 3)
        return filterBadMode;
    const int32_t width = int32_t(r.outRect.right) - r.outRect.left;
    const int32_t height = int32_t(r.outRect.bottom) - r.outRect.top;
    if (!r.inData || !r.outData || width <= 0 || height <= 0)
        return errPlugInHostInsufficient;
    // A mode that names no sample size has it worked out from the output rows: input rows too
    // short for samples of that size would be read past their end.
    if (r.imageMode != plugInModeRGBColor && r.imageMode != plugInModeRGB48 && hostInput().rowBytes == 0)
        return filterBadMode;
    return noErr;
}

// The sample size: stated by the host's image mode where it names one, otherwise derived from
// the output row bytes, which is exact for hosts that pack their rows.
int32_t FilterContext::hostBits(int64_t rowBytes) const
{
    const FilterRecord& r = *filterRecord;
    switch (r.imageMode) {
    case plugInModeRGBColor:
        return 8;
    case plugInModeRGB48:
        return 16;
    default:
        break;
    }
    const int64_t width = int64_t(r.outRect.right) - r.outRect.left;
    const int64_t denominator = int64_t(r.planes) * width;
    if (denominator <= 0)
        return 0;
    return int32_t(rowBytes * 8 / denominator);
}

ImageBuffer FilterContext::describeHost(void* data, int32_t rowBytes) const
{
    const FilterRecord& r = *filterRecord;
    ImageBuffer b;
    b.data = static_cast<uint8_t*>(data);
    b.rows = int32_t(r.outRect.bottom) - r.outRect.top;
    b.cols = int32_t(r.outRect.right) - r.outRect.left;
    b.channels = r.planes;
    b.bits = hostBits(r.outRowBytes);
    b.order = kOrderRGB;
    // A stride shorter than a packed row cannot be right (one host states 16-bit row sizes in
    // samples); such rows are taken as packed.
    b.rowBytes = rowBytes >= b.packedRowBytes() ? rowBytes : 0;
    return b;
}

ImageBuffer FilterContext::hostInput() const
{
    return describeHost(filterRecord->inData, filterRecord->inRowBytes);
}

ImageBuffer FilterContext::hostOutput() const
{
    return describeHost(filterRecord->outData, filterRecord->outRowBytes);
}

bool FilterContext::copyToDialogBuffer()
{
    dialogBuffer = workBuffer;
    const uint64_t bytes = uint64_t(workBuffer.rows) * uint64_t(workBuffer.cols) * 4u;
    dialogBuffer.data = static_cast<uint8_t*>(platform::allocateBlock(bytes, false));
    if (!dialogBuffer.data)
        return false;
    std::memcpy(dialogBuffer.data, workBuffer.data, size_t(bytes));
    return true;
}

} // namespace quarvel
