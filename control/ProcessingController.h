// The object through which a start call runs everything: it owns the filter and the dialog,
// runs the filter once without a dialog or again and again as the dialog's live preview, and
// routes every progress report to the host's bar or to the dialog's.
#pragma once

#include "control/DialogView.h"
#include "control/RunContext.h"
#include "core/ImageFilter.h"

#include <cstdint>
#include <string>

namespace quarvel {

class ParameterStore;

enum ControllerFlags : uint32_t {
    InitialPreview = 1, // a stopped preview run shows the unprocessed image as its result
    Running = 2, // a run is in progress; only then do reports reach host or dialog
    Direct = 4, // the run has no dialog: progress goes to the host's bar
    Cancel = 8, // every report answers stop
    Restart = 16, // when the stopped run returns, ask the dialog for a new one
};

// The dialog's parameter-changed message: the controller posts it to ask for a fresh run.
constexpr unsigned WMU_PARAMS_CHANGED = 0x0400 + 144;

// Dialog events.
enum DialogEvent : int {
    kEventInitialised = 1, // show the unprocessed image
    kEventStop = 2, // stop the current run, no restart
    kEventRender = 3, // run the preview, or restart the running one
};

class ProcessingControllerBase : public ProgressSink {
public:
    virtual ImageFilter* createFilter() = 0;
    virtual DialogView* createDialog() = 0;
    virtual ~ProcessingControllerBase();
    virtual ParameterStore* createParameters() = 0;
    virtual int runDialog(intptr_t parentWindow);
    virtual int onDialogEvent(DialogView* dialog, int code, intptr_t first, intptr_t second);
    int onProgress(ImageFilter* filter, int stage, int32_t done, int32_t total) override;

    // Creates the filter and the dialog if they are not there yet.
    void attach(RunContext* context);
    // 1 if the run was stopped.
    int runDirect(ImageBuffer* image);
    bool isRunning() const { return (flags & Running) != 0; }
    // Whether dialogBuffer holds a completed preview run of exactly the settings now in the
    // document. A preview stopped by Cancel, or settings changed since, leave it part-done or
    // stale: that must never reach the host as the result.
    bool previewMatches(const ParameterStore& parameters) const;
    void setFlags(uint32_t set, uint32_t clear) { flags = (flags & ~clear) | set; }

    RunContext* context = nullptr;
    ImageFilter* filter = nullptr; // owned
    DialogView* dialog = nullptr; // owned
    uint32_t flags = 0;

protected:
    ProcessingControllerBase();
    ProcessingControllerBase(const ProcessingControllerBase&) = delete;
    ProcessingControllerBase& operator=(const ProcessingControllerBase&) = delete;

    // Called as a run starts, before the filter's first report.
    virtual void beginRun(ParameterStore*) { }

private:
    void previewRun();

    bool previewComplete_ = false;
    std::string previewSettings_; // the document's text when the last preview run completed
};

class ProcessingController : public ProcessingControllerBase {
public:
    ProcessingController() = default;
    ImageFilter* createFilter() override;
    DialogView* createDialog() override;
    ParameterStore* createParameters() override;
    int onProgress(ImageFilter* filter, int stage, int32_t done, int32_t total) override;

    int32_t progressTotal = 0;

protected:
    void beginRun(ParameterStore* parameters) override;
};

// 100 for each filter stage that a run with these settings executes (0, 100 or 200).
int32_t countProgressTotal(ParameterStore& parameters);

// Null if memory runs out.
ProcessingControllerBase* createController();
void destroyController(ProcessingControllerBase* controller);

// The folder of the module file, ending in its separator; empty while no controller exists.
const char* moduleDirectory();

// Cuts a path after its last `separator`, clearing from the end as the module directory is
// made; the first character is never examined.
void cutToDirectory(char* path, char separator);

// The dialog factory of this build: null while the build has no dialog.
DialogView* createMainDialog();

} // namespace quarvel
