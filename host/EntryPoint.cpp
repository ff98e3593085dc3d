// Selector dispatch: every call builds its context, routes the selector, hands the result back
// and tears everything down again. Nothing survives from one call to the next.
#include "host/EntryPoint.h"

#include "control/ProcessingController.h"
#include "host/FilterContext.h"
#include "host/ScriptingParameters.h"
#include "platform/Platform.h"
#include "settings/ParameterStore.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quarvel {

using namespace pluginapi;

namespace {

void ignoreSelector(FilterContext&) { }

// After OK, dialogBuffer is the result only if the last preview run completed with the settings
// the user accepted. A run the user stopped with Cancel before pressing OK, or one that never
// ran, would hand the host a half-filtered or untouched picture as if it were done: such a
// result is made again from the original, with the host's progress bar and abort as in a run
// without the dialog. False when that run was stopped (nothing is written back then).
bool finishDialogResult(FilterContext& context, ProcessingControllerBase& controller)
{
    if (controller.previewMatches(*context.parameters))
        return true;
    std::memcpy(context.dialogBuffer.data, context.workBuffer.data,
        size_t(context.workBuffer.rows) * size_t(context.workBuffer.cols)
            * size_t(context.workBuffer.channels));
    // The stop the user gave the preview is not a stop of this run.
    controller.setFlags(0, Cancel | Restart);
    if (!controller.runDirect(&context.dialogBuffer))
        return true;
    context.result = controller.filter && controller.filter->outOfMemory ? int16_t(memFullErr)
                                                                         : int16_t(userCanceledErr);
    return false;
}

// The dialog shows the image and lets the user tune it; after OK its buffer is the result.
void runWithDialog(FilterContext& context, ProcessingControllerBase& controller, ImageBuffer& hostOut)
{
    if (!controller.dialog) {
        platform::showMessage(0,
            "The Quarvel dialog is not available in this build; run it from an action "
            "or a script with the dialog turned off.",
            "Quarvel", platform::kMessageIconExclamation | platform::kMessageOk);
        context.result = userCanceledErr;
        return;
    }
    if (!context.copyToDialogBuffer()) {
        context.result = memFullErr;
        return;
    }
    const PlatformData* platformData = static_cast<const PlatformData*>(context.filterRecord->platformData);
    const intptr_t parent = platformData ? platformData->hwnd : 0;
    if (controller.runDialog(parent) != 1) {
        context.result = userCanceledErr;
    } else if (finishDialogResult(context, controller)) {
        context.transferImage(hostOut, context.dialogBuffer);
    }
    platform::freeBlock(context.dialogBuffer.data);
    context.dialogBuffer.data = nullptr;
}

constexpr int kMinimumSide = 6;

void clearRects(FilterRecord& record)
{
    record.inRect = Rect { 0, 0, 0, 0 };
    record.outRect = Rect { 0, 0, 0, 0 };
    record.maskRect = Rect { 0, 0, 0, 0 };
}

} // namespace

void PrepareImage(FilterContext& context)
{
    FilterRecord& record = *context.filterRecord;
    const int32_t width = int32_t(record.filterRect.right) - record.filterRect.left;
    const int32_t height = int32_t(record.filterRect.bottom) - record.filterRect.top;
    if (width < kMinimumSide || height < kMinimumSide) {
        context.result = userCanceledErr;
        platform::showMessage(0, "The image width and height must be greater than 5 pixels.", "Quarvel",
            platform::kMessageIconExclamation | platform::kMessageOk);
    }
    // Eight bytes per pixel of the output rectangle: two working copies of four bytes. Worked out
    // in 64 bits, since the largest rectangles overflow the host's 32-bit field.
    const int64_t outWidth = int64_t(record.outRect.right) - record.outRect.left;
    const int64_t outHeight = int64_t(record.outRect.bottom) - record.outRect.top;
    const int64_t space = outWidth * outHeight * 8;
    record.bufferSpace = 0;
    record.maxSpace = int32_t(std::clamp<int64_t>(space, 0, INT32_MAX));
}

void StartFilter(FilterContext& context)
{
    FilterRecord& record = *context.filterRecord;

    ProcessingControllerBase* controller = createController();
    if (!controller) {
        context.result = memFullErr;
        clearRects(record);
        return;
    }
    // A failed allocation anywhere in the run must still free what the run holds.
    try {
        controller->attach(&context);
        context.parameters = controller->createParameters();

        const int16_t requested = context.requestImage();
        // Without its filter a run would hand the image back unprocessed as if it were done.
        if (requested != noErr || !context.parameters || !controller->filter) {
            context.result = requested != noErr ? requested : int16_t(memFullErr);
        } else {
            const int showDialog = ReadScriptParameters(context);
            const ImageBuffer input = context.hostInput();
            const ImageBuffer output = context.hostOutput();
            ImageBuffer& work = context.workBuffer;
            work.data = nullptr;
            work.rows = input.rows;
            work.cols = input.cols;
            work.channels = kWorkChannels;
            work.bits = kWorkBits;
            work.order = kOrderBGR;
            const int aborted = context.transferImage(work, input);
            if (!work.data) {
                context.result = memFullErr;
            } else if (!aborted) {
                ImageBuffer hostOut = output;
                if (showDialog) {
                    runWithDialog(context, *controller, hostOut);
                } else {
                    // A stopped run leaves a half-processed image: it never goes back to the host.
                    if (controller->runDirect(&context.workBuffer))
                        context.result = controller->filter && controller->filter->outOfMemory
                            ? int16_t(memFullErr)
                            : int16_t(userCanceledErr);
                    else
                        context.transferImage(hostOut, context.workBuffer);
                }
                WriteScriptParameters(context);
            }
        }
    } catch (const std::bad_alloc&) {
        context.result = memFullErr;
    }

    platform::freeBlock(context.dialogBuffer.data);
    context.dialogBuffer.data = nullptr;
    platform::freeBlock(context.workBuffer.data);
    context.workBuffer.data = nullptr;
    clearRects(record);
    delete context.parameters;
    context.parameters = nullptr;
    destroyController(controller);
}

} // namespace quarvel

extern "C" void ENTRYPOINT(int16_t selector, void* filterRecord, intptr_t* data, int16_t* result)
{
    (void)data;
    using namespace quarvel;
    FilterContext context;
    context.filterRecord = static_cast<FilterRecord*>(filterRecord);
    context.result = noErr;
    // No C++ exception may cross into the host; the only one our code can meet is a failed
    // allocation.
    try {
        switch (selector) {
        case filterSelectorAbout:
        case filterSelectorParameters:
        case filterSelectorContinue:
        case filterSelectorFinish:
            ignoreSelector(context);
            break;
        case filterSelectorPrepare:
            if (context.filterRecord)
                PrepareImage(context);
            break;
        case filterSelectorStart:
            if (context.filterRecord)
                StartFilter(context);
            break;
        default:
            context.result = filterBadParameters;
            break;
        }
    } catch (const std::bad_alloc&) {
        context.result = memFullErr;
    }
    if (result)
        *result = context.result;
}
