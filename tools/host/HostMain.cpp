#include "tools/host/HostMain.h"

#include "tools/host/Console.h"
#include "tools/host/HostOptions.h"
#include "tools/host/HostImage.h"
#include "tools/host/HostSession.h"
#include "tools/host/HostSettings.h"
#include "tools/host/HostWindow.h"
#include "tools/host/ImageFile.h"
#include "tools/host/OutputFile.h"
#include "tools/host/PluginModule.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace quarvel::host {

namespace {

// The filter record's sizes are 16-bit.
constexpr int kMaxSide = 32767;

int usageError(const std::string& message)
{
    std::fprintf(stderr, "quarvel-host: %s\n(quarvel-host --help shows the options)\n", message.c_str());
    return kExitUsage;
}

int ioError(const std::string& message)
{
    std::fprintf(stderr, "quarvel-host: %s\n", message.c_str());
    return kExitInputOutput;
}

// The abort procedure's answer: Ctrl-C, or (for tests) after a given number of polls.
struct AbortSource {
    long pollsBeforeAbort = -1;
    long polls = 0;
    bool requested = false;

    bool poll()
    {
        ++polls;
        if (interruptRequested() || (pollsBeforeAbort >= 0 && polls > pollsBeforeAbort))
            requested = true;
        return requested;
    }
};

} // namespace

int hostMain(int argc, const char* const* argv)
{
    HostOptions options;
    std::string error;
    if (!parseHostOptions(argc, argv, options, error))
        return usageError(error);
    if (options.help) {
        std::fputs(hostUsage().c_str(), stdout);
        return kExitDone;
    }
    if (options.version) {
        std::puts("quarvel-host 2.0");
        return kExitDone;
    }
    if (options.list) {
        std::fputs(settingsListing().c_str(), stdout);
        return kExitDone;
    }
#if !defined(_WIN32)
    if (options.dialog) {
        std::fprintf(stderr, "quarvel-host: the dialog needs the Windows build; run it under Wine: %s\n",
                     windowsHostCommand(argc, argv).c_str());
        return kExitUsage;
    }
#endif

    // Settings reach the plug-in as the descriptor of an action step being played back.
    SessionOptions sessionOptions;
    sessionOptions.showDialog = options.dialog;
    if (!options.play.empty() && !readActionFile(options.play, sessionOptions.descriptor, error))
        return ioError(error);
    if (!options.preset.empty() && !applyPreset(options.preset, sessionOptions.descriptor, error))
        return ioError(error);
    for (const std::string& assignment : options.sets)
        if (!applySetting(assignment, sessionOptions.descriptor, error))
            return usageError(error);
    sessionOptions.hasDescriptor = !options.play.empty() || !options.preset.empty() || !options.sets.empty();

    const ImageFormat outputFormat = formatFromPath(options.output);
    if (outputFormat == ImageFormat::Unknown)
        return usageError("cannot tell the output format from the name " + options.output +
                          ": use .png, .tif, .tiff, .jpg or .jpeg");

    ImageFile file;
    if (!readImageFile(options.input, file, error))
        return ioError(options.input + ": " + error);
    if (file.width > kMaxSide || file.height > kMaxSide)
        return ioError(options.input + ": images larger than 32767 pixels on a side cannot be "
                                       "handed to a filter plug-in");
    // Refuse before the run rather than after it: the user's time matters.
    if (outputFormat == ImageFormat::Jpeg && file.channels == 4)
        return ioError(options.output + ": JPEG cannot hold transparency");
    if (outputFormat == ImageFormat::Jpeg && file.bitsPerSample != 8)
        return ioError(options.output + ": JPEG holds 8 bits per sample only");

    PluginModule module;
    if (!loadPluginModule(options.plugin, module, error))
        return ioError(error);

    installInterruptHandler();
    AbortSource abort;
    if (const char* after = std::getenv("QUARVEL_HOST_ABORT_AFTER"))
        abort.pollsBeforeAbort = std::strtol(after, nullptr, 10);
    // The dialog has a progress bar of its own.
    const bool showProgress = !options.quiet && !options.dialog && stderrIsTerminal();

    sessionOptions.abortRequested = [&abort] { return abort.poll(); };
    if (showProgress)
        sessionOptions.progress = [](int32_t done, int32_t total) { drawProgress(done, total); };

#if defined(_WIN32)
    // Made after the console's interrupt handler, so that Ctrl-C reaches the window's first.
    std::optional<DialogOwnerWindow> owner;
    if (options.dialog) {
        owner.emplace();
        sessionOptions.parentWindow = owner->handle();
    }
#endif

    HostImage image = toHostImage(file);
    SessionResult outcome;
    {
        HostSession session(module.entry, sessionOptions);
        outcome = session.run(image);
    }
    if (showProgress)
        finishProgress();
#if defined(_WIN32)
    // While the module is still loaded: its dialog code may have hooked into the window.
    owner.reset();
#endif
    unloadPluginModule(module);

    if (outcome.prepareResult == pluginapi::userCanceledErr) {
        // The plug-in has told the user why, in its own words.
        std::fprintf(stderr, "quarvel-host: the plug-in refused the image; %s was not written\n",
                     options.output.c_str());
        return kExitCancelled;
    }
    if (outcome.prepareResult != pluginapi::noErr) {
        std::fprintf(stderr, "quarvel-host: the plug-in failed to prepare (result %d)\n",
                     outcome.prepareResult);
        return kExitPluginError;
    }
    if (outcome.startResult == pluginapi::userCanceledErr || abort.requested ||
        interruptRequested()) {
        std::fprintf(stderr, "quarvel-host: cancelled; %s was not written\n", options.output.c_str());
        return kExitCancelled;
    }
    if (outcome.startResult != pluginapi::noErr || !outcome.imageChanged) {
        std::fprintf(stderr, "quarvel-host: the plug-in failed (result %d); %s was not written\n",
                     outcome.startResult, options.output.c_str());
        return kExitPluginError;
    }

    fromHostImage(image, file);
    if (!writeOutputAtomically(options.output, outputFormat, file, error))
        return ioError(options.output + ": " + error);
    if (!options.record.empty()) {
        if (!outcome.recorded)
            return ioError("the plug-in recorded no settings; " + options.record + " was not written");
        if (!writeActionFile(options.record, outcome.recordedDescriptor, error))
            return ioError(error);
    }
    return kExitDone;
}

} // namespace quarvel::host
