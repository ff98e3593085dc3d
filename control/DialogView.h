// The controller's view of the plug-in's dialog. The Windows dialog implements it; tests use a
// recording fake.
#pragma once

#include "core/ImageBuffer.h"

#include <cstdint>

namespace quarvel {

class ParameterStore;
class ProcessingControllerBase;

// States of DialogView::progress.
enum DialogProgress : int {
    kDialogProgressBegin = 0, // show the bar over 0..total, disable OK
    kDialogProgressStep = 1, // position = done; pump pending window messages
    kDialogProgressEnd = 2, // hide the bar, enable OK
};

class DialogView {
public:
    virtual ~DialogView() = default;
    virtual void setSourcePreview(const ImageBuffer& image) = 0;
    virtual void setProcessedPreview(const ImageBuffer& image) = 0;
    // 1 for OK, anything else for cancel.
    virtual int run(intptr_t parentWindow, ParameterStore* parameters) = 0;
    virtual const char* name() const = 0;
    virtual void progress(int state, int32_t done, int32_t total);

    ProcessingControllerBase* controller = nullptr; // not owned
    intptr_t window = 0; // the dialog's window once it exists

protected:
    DialogView() = default;
    DialogView(const DialogView&) = delete;
    DialogView& operator=(const DialogView&) = delete;
};

} // namespace quarvel
