#include "control/ProcessingController.h"

#include "platform/Platform.h"
#include "settings/ParameterDocument.h"
#include "settings/SettingFields.h"
#include "tone/ToneFilter.h"

#include <cstring>
#include <memory>
#include <new>

namespace quarvel {

namespace {

constexpr int kPathSize = 260;

std::string documentText(const ParameterStore& parameters)
{
    std::string text(size_t(parameters.length()) + 1, '\0');
    parameters.getText(text.data(), int(text.size()));
    text.resize(std::strlen(text.c_str()));
    return text;
}
char* gModuleDirectory = nullptr;
// Controllers alive: the string is shared by all of them and released with the last, so that one
// controller ending does not take the folder from another still at work.
int gModuleDirectoryUsers = 0;

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

} // namespace

void cutToDirectory(char* path, char separator)
{
    size_t i = std::strlen(path);
    while (i > 0 && path[i] != separator) {
        path[i] = 0;
        --i;
    }
}

const char* moduleDirectory() { return gModuleDirectory ? gModuleDirectory : ""; }

ProcessingControllerBase::ProcessingControllerBase()
{
    flags = InitialPreview;
    ++gModuleDirectoryUsers;
    if (!gModuleDirectory) {
        // The name first: a failed allocation must leave no empty folder behind for later
        // controllers to share.
        std::string file;
        try {
            file = platform::moduleFileName();
        } catch (const std::bad_alloc&) {
            return;
        }
        gModuleDirectory = new (std::nothrow) char[kPathSize];
        if (gModuleDirectory) {
            std::memset(gModuleDirectory, 0, kPathSize);
            std::strncpy(gModuleDirectory, file.c_str(), kPathSize - 1);
            cutToDirectory(gModuleDirectory, kSeparator);
        }
    }
}

ProcessingControllerBase::~ProcessingControllerBase()
{
    delete filter;
    delete dialog;
    if (--gModuleDirectoryUsers == 0) {
        delete[] gModuleDirectory;
        gModuleDirectory = nullptr;
    }
}

void ProcessingControllerBase::attach(RunContext* newContext)
{
    context = newContext;
    if (!filter) {
        filter = createFilter();
        if (filter)
            filter->owner = this;
    }
    if (!dialog) {
        dialog = createDialog();
        if (dialog)
            dialog->controller = this;
    }
}

int ProcessingControllerBase::runDialog(intptr_t parentWindow)
{
    if (!dialog || !filter)
        return 0;
    filter->analyze(context->workBuffer);
    return dialog->run(parentWindow, context->parameters);
}

int ProcessingControllerBase::runDirect(ImageBuffer* image)
{
    if (!filter)
        return 0;
    filter->analyze(*image);
    setFlags(Running | Direct, 0);
    beginRun(context->parameters);
    const int stopped = filter->process(*image, context->parameters);
    setFlags(0, Running | Direct);
    return stopped;
}

int ProcessingControllerBase::onDialogEvent(DialogView*, int code, intptr_t, intptr_t)
{
    switch (code) {
    case kEventInitialised:
        if (dialog)
            dialog->setSourcePreview(context->workBuffer);
        break;
    case kEventStop:
        setFlags(Cancel, Restart);
        break;
    case kEventRender:
        previewRun();
        break;
    default:
        break;
    }
    return 0;
}

void ProcessingControllerBase::previewRun()
{
    // A change that arrives while the dialog pumps messages inside a report of the running
    // preview only marks that run; the message posted after it returns starts the next one.
    if (flags & Running) {
        setFlags(Cancel | Restart, 0);
        return;
    }
    if (!filter || !dialog)
        return;
    setFlags(0, Cancel | Restart);
    ImageBuffer& work = context->workBuffer;
    ImageBuffer& shown = context->dialogBuffer;
    if (shown.data && work.data)
        std::memcpy(shown.data, work.data, size_t(shown.rows) * size_t(shown.cols) * size_t(shown.channels));
    setFlags(Running, Direct);
    previewComplete_ = false;
    beginRun(context->parameters);
    const int stopped = filter->process(shown, context->parameters);
    // Taken after the run, since reading a setting the document lacks adds it.
    // This runs under the dialog's window procedure, which no exception may cross.
    if (!stopped && context->parameters) {
        try {
            previewSettings_ = documentText(*context->parameters);
            previewComplete_ = true;
        } catch (const std::bad_alloc&) {
        }
    }
    if (!stopped) {
        dialog->setProcessedPreview(shown);
    } else if (flags & InitialPreview) {
        dialog->setProcessedPreview(work);
        setFlags(0, InitialPreview);
    }
    setFlags(0, Running);
    if (flags & Restart)
        platform::postMessage(dialog->window, WMU_PARAMS_CHANGED, 0, 0);
}

bool ProcessingControllerBase::previewMatches(const ParameterStore& parameters) const
{
    try {
        return previewComplete_ && previewSettings_ == documentText(parameters);
    } catch (const std::bad_alloc&) {
        return false; // run it again: the safe answer
    }
}

int ProcessingControllerBase::onProgress(ImageFilter*, int stage, int32_t done, int32_t total)
{
    if (!(flags & Running))
        return (flags & Cancel) ? 1 : 0;
    if (stage >= kProgressBegin && stage <= kProgressPoll) {
        const bool direct = (flags & Direct) != 0;
        int abort = 0;
        switch (stage) {
        case kProgressBegin:
        case kProgressEnd:
            if (direct)
                abort = context->reportToHost(1, 0, total);
            else if (dialog)
                dialog->progress(
                    stage == kProgressBegin ? kDialogProgressBegin : kDialogProgressEnd, done, total);
            break;
        case kProgressStep:
            if (direct)
                abort = context->reportToHost(1, done, total);
            else if (dialog)
                dialog->progress(kDialogProgressStep, done, total);
            break;
        default:
            break;
        }
        // The host is polled after the display, in every case; a direct report has polled already.
        if (!direct || stage == kProgressPoll)
            abort = context->reportToHost(2, 0, 0);
        if (abort)
            return 1;
    }
    return (flags & Cancel) ? 1 : 0;
}

int32_t countProgressTotal(ParameterStore& p)
{
    // Read in this order and no further than needed: a missing entry is appended as it is read.
    auto on = [&p](SettingId id) { return readIntSetting(p, id); };
    int32_t stages = 0;
    if (on(SettingId::DynamicEnable) != 0 || on(SettingId::ColorEnable) != 0)
        ++stages;
    if (on(SettingId::SharpEnable) != 0 || on(SettingId::SmoothEnable) != 0) {
        const bool any = on(SettingId::ShSharpAmount) > 0
            || (on(SettingId::HiSharpAmount) > 0 && on(SettingId::SharpMethod) != 0)
            || on(SettingId::SmoothAmount) > 0 || on(SettingId::DiffuseAmount) > 0
            || on(SettingId::GrainAmount) > 0;
        if (any)
            ++stages;
    }
    return 100 * stages;
}

ImageFilter* ProcessingController::createFilter() { return new (std::nothrow) ToneFilter(); }

DialogView* ProcessingController::createDialog() { return createMainDialog(); }

ParameterStore* ProcessingController::createParameters()
{
    // Held until normalised: a failed allocation while normalising must not lose the document.
    std::unique_ptr<ParameterDocument> document(new (std::nothrow) ParameterDocument());
    if (document)
        document->normalize();
    return document.release();
}

// Counted when a run starts as well as on the tone filter's begin report, so that a run without
// the tone pass (whose filter sends no begin) still gives its detail stage a true range.
void ProcessingController::beginRun(ParameterStore* parameters)
{
    if (parameters)
        progressTotal = countProgressTotal(*parameters);
}

int ProcessingController::onProgress(ImageFilter* reporting, int stage, int32_t done, int32_t)
{
    if (stage == kProgressBegin && reporting && std::strcmp(reporting->name(), "Quillmarsh") == 0 && context
        && context->parameters)
        progressTotal = countProgressTotal(*context->parameters);
    return ProcessingControllerBase::onProgress(reporting, stage, done, progressTotal);
}

ProcessingControllerBase* createController() { return new (std::nothrow) ProcessingController(); }

void destroyController(ProcessingControllerBase* controller) { delete controller; }

} // namespace quarvel
