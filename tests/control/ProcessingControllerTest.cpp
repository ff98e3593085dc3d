// The controller's run logic: stage counting, the flags of preview runs started, stopped and
// restarted from inside a progress report, and where progress goes.
#include "control/ProcessingController.h"
#include "host/FilterContext.h"
#include "platform/Platform.h"
#include "settings/ParameterDocument.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace quarvel {
namespace {

std::vector<unsigned> gPosted;

// Reports a fixed number of steps; a hook runs inside a chosen report, as a pumping dialog
// would deliver a message there.
class StepFilter : public ImageFilter {
public:
    int process(ImageBuffer& image, ParameterStore*) override
    {
        ++runs;
        int stop = reportProgress(kProgressBegin, 0, 0);
        for (int i = 1; i <= steps && !stop; ++i) {
            if (i == hookAt && hook)
                hook();
            image.data[0] = uint8_t(runs);
            stop = reportProgress(kProgressStep, 5 * i, 0);
        }
        reportProgress(kProgressEnd, 0, 0);
        return stop;
    }
    const char* name() const override { return "Quillmarsh"; }

    int steps = 4;
    int hookAt = 0;
    std::function<void()> hook;
    int runs = 0;
};

class FakeDialog : public DialogView {
public:
    void setSourcePreview(const ImageBuffer& image) override { source.push_back(image.data); }
    void setProcessedPreview(const ImageBuffer& image) override { processed.push_back(image.data); }
    int run(intptr_t, ParameterStore*) override { return 1; }
    const char* name() const override { return "fake"; }
    void progress(int state, int32_t done, int32_t total) override
    {
        events.push_back(std::to_string(state) + ":" + std::to_string(done) + "/" + std::to_string(total));
    }
    std::vector<const uint8_t*> source, processed;
    std::vector<std::string> events;
};

class TestController : public ProcessingController {
public:
    ImageFilter* createFilter() override { return new StepFilter; }
    DialogView* createDialog() override { return new FakeDialog; }
    StepFilter& stepFilter() { return *static_cast<StepFilter*>(filter); }
    FakeDialog& fakeDialog() { return *static_cast<FakeDialog*>(dialog); }
};

class Controller : public ::testing::Test {
protected:
    void SetUp() override
    {
        gPosted.clear();
        platform::setPostSink(
            [](intptr_t, unsigned message, uintptr_t, intptr_t) { gPosted.push_back(message); });
        context.workBuffer = ImageBuffer { work.data(), 2, 2, 4, 8, 1 };
        context.dialogBuffer = ImageBuffer { shown.data(), 2, 2, 4, 8, 1 };
        context.filterRecord = &record;
        record.abortProc = [] { return pluginapi::Boolean(0); };
        controller.attach(&context);
        parameters.normalize();
        context.parameters = &parameters;
    }
    void TearDown() override { platform::setPostSink(nullptr); }
    void event(int kind) { controller.onDialogEvent(controller.dialog, kind, 0, 0); }

    pluginapi::FilterRecord record {};
    FilterContext context;
    ParameterDocument parameters;
    TestController controller;
    std::vector<uint8_t> work = std::vector<uint8_t>(16, 7), shown = std::vector<uint8_t>(16, 0);
};

TEST(ProgressTotal, CountsTheStagesARunWillExecute)
{
    for (auto [settings, total] :
        { std::pair { "DynamicEnable=1;ColorEnable=0;SharpEnable=1;SmoothEnable=0;", 100 },
            { "HiSharpAmount=50;SharpMethod=0;", 100 }, { "HiSharpAmount=50;SharpMethod=1;", 200 },
            { "SharpEnable=0;SmoothEnable=1;SmoothAmount=10;", 200 },
            { "DynamicEnable=0;ColorEnable=0;GrainAmount=3;", 100 },
            { "DynamicEnable=0;ColorEnable=0;SharpEnable=0;SmoothEnable=0;GrainAmount=3;", 0 } }) {
        ParameterDocument document;
        document.setText(settings);
        EXPECT_EQ(countProgressTotal(document), total) << settings;
    }
}

TEST(ModuleDirectory, EndsWithTheSeparator)
{
    for (auto [path, separator, directory] :
        { std::tuple { "D:\\PS\\Plug-ins\\x.8bf", '\\', "D:\\PS\\Plug-ins\\" },
            { "/opt/host/plug-ins/quarvel", '/', "/opt/host/plug-ins/" },
            { "x.8bf", '\\', "x" } /* the first character is never examined */ }) {
        char cut[260];
        std::strcpy(cut, path);
        cutToDirectory(cut, separator);
        EXPECT_STREQ(cut, directory);
    }
}

TEST(ModuleDirectory, LivesAsLongAsAnyController)
{
    ProcessingControllerBase* first = createController();
    ProcessingControllerBase* second = createController();
    const std::string folder = moduleDirectory();
    ASSERT_FALSE(folder.empty());
    destroyController(first);
    EXPECT_EQ(moduleDirectory(), folder) << "the other controller still needs it";
    destroyController(second);
    EXPECT_STREQ(moduleDirectory(), "");
}

TEST_F(Controller, RenderDuringARunRestartsItOnceAfterItReturns)
{
    StepFilter& filter = controller.stepFilter();
    filter.hookAt = 2;
    bool fired = false;
    filter.hook = [&] {
        if (fired) // the restarted run goes through
            return;
        fired = true;
        event(kEventRender);
        event(kEventRender);
    };
    event(kEventRender);
    EXPECT_EQ(filter.runs, 1) << "no second run inside the first";
    EXPECT_EQ(gPosted, std::vector<unsigned> { WMU_PARAMS_CHANGED });
    EXPECT_FALSE(controller.isRunning());
    // The stopped first run showed the unprocessed image once.
    ASSERT_EQ(controller.fakeDialog().processed.size(), 1u);
    EXPECT_EQ(controller.fakeDialog().processed[0], work.data());
    EXPECT_EQ(controller.flags & InitialPreview, 0u);

    // The dialog answers the posted message with another render event.
    gPosted.clear();
    event(kEventRender);
    EXPECT_EQ(filter.runs, 2);
    EXPECT_TRUE(gPosted.empty());
    EXPECT_EQ(controller.fakeDialog().processed.back(), shown.data());
    EXPECT_EQ(controller.flags & (Cancel | Restart), 0u);
}

TEST_F(Controller, StopDuringARunPostsNothingAndTheNextRenderRuns)
{
    StepFilter& filter = controller.stepFilter();
    filter.hookAt = 1;
    bool stopNow = true;
    filter.hook = [&] {
        if (stopNow)
            event(kEventStop);
    };
    event(kEventRender);
    EXPECT_TRUE(gPosted.empty());
    EXPECT_NE(controller.flags & Cancel, 0u);

    stopNow = false;
    event(kEventRender);
    EXPECT_EQ(filter.runs, 2);
    EXPECT_EQ(controller.flags & Cancel, 0u);
    EXPECT_EQ(controller.fakeDialog().processed.back(), shown.data());
}

TEST_F(Controller, StopWhileIdleIsClearedByTheNextRender)
{
    event(kEventStop);
    EXPECT_NE(controller.flags & Cancel, 0u);
    event(kEventRender);
    EXPECT_EQ(controller.stepFilter().runs, 1);
    EXPECT_EQ(controller.fakeDialog().processed.size(), 1u);
    EXPECT_EQ(shown[0], 1) << "the preview renders into the dialog's buffer";
    EXPECT_EQ(work[0], 7) << "the working copy stays the source";
}

TEST_F(Controller, PreviewProgressGoesToTheDialogWithTheCountedTotal)
{
    event(kEventInitialised);
    EXPECT_EQ(controller.fakeDialog().source, std::vector<const uint8_t*> { work.data() });
    event(kEventRender);
    const std::vector<std::string> expected
        = { "0:0/100", "1:5/100", "1:10/100", "1:15/100", "1:20/100", "2:0/100" };
    EXPECT_EQ(controller.fakeDialog().events, expected);
}

TEST_F(Controller, ThePreviewIsTheResultOnlyWhenItCompletedWithTheSettingsNowHeld)
{
    EXPECT_FALSE(controller.previewMatches(parameters)) << "no run yet";
    event(kEventRender);
    EXPECT_TRUE(controller.previewMatches(parameters));
    parameters.setInt("ShadowAmount", 20);
    EXPECT_FALSE(controller.previewMatches(parameters)) << "changed since";

    StepFilter& filter = controller.stepFilter();
    filter.hookAt = 2;
    filter.hook = [&] { event(kEventStop); };
    event(kEventRender);
    EXPECT_FALSE(controller.previewMatches(parameters)) << "stopped half-way";
}

TEST_F(Controller, ReportsOutsideARunReachNobody)
{
    int polls = 0;
    static int* counter = nullptr;
    counter = &polls;
    record.abortProc = [] {
        ++*counter;
        return pluginapi::Boolean(1);
    };
    EXPECT_EQ(controller.onProgress(controller.filter, kProgressPoll, 0, 0), 0);
    EXPECT_EQ(polls, 0);
    // A direct run polls the host, whose "stop" ends the run.
    EXPECT_EQ(controller.runDirect(&context.workBuffer), 1);
    EXPECT_GT(polls, 0);
    EXPECT_FALSE(controller.isRunning());
    EXPECT_EQ(controller.flags & Direct, 0u);
}

} // namespace
} // namespace quarvel
