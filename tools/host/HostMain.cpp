#include "tools/host/HostMain.h"

#include "tools/host/Console.h"
#include "tools/host/FileSystem.h"
#include "tools/host/HostOptions.h"
#include "tools/host/HostSettings.h"
#include "tools/host/HostWindow.h"
#include "tools/host/ImageRunner.h"
#include "tools/host/PluginModule.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>
#include <optional>

namespace quarvel::host {

namespace {

void say(const std::string& message) { std::fprintf(stderr, "quarvel-host: %s\n", message.c_str()); }

int usageError(const std::string& message)
{
    std::fprintf(stderr, "quarvel-host: %s\n(quarvel-host --help shows the options)\n", message.c_str());
    return kExitUsage;
}

int ioError(const std::string& message)
{
    say(message);
    return kExitInputOutput;
}

// What goes to stdout is what a script reads: a failed write is a failure.
int printed(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return ioError(std::string("cannot write to the standard output: ") + std::strerror(errno));
    return kExitDone;
}

struct Decoded {
    bool ok = false;
    ImageFile image;
    std::string error;
};

Decoded decode(const std::string& path)
{
    Decoded decoded;
    if (!checkReadableFile(path, decoded.error))
        return decoded;
    std::string error;
    if (!readImageFile(path, decoded.image, error, ReadLimits {})) {
        decoded.error = naming(path, error);
        return decoded;
    }
    decoded.ok = true;
    return decoded;
}

int runSingle(const HostOptions& options, ImageRunner& runner, bool showProgress)
{
    const ImageJob job { options.input, options.output, formatFromPath(options.output), "" };
    // Running in place is fine; the settings may not land on either image.
    if (!options.record.empty()) {
        for (const std::string& image : { options.input, options.output })
            if (isSameFile(options.record, image))
                return usageError("--record " + options.record + " names "
                    + (image == options.input ? "the input file " : "the output file ") + image
                    + " (or a link to it): the settings would replace the image");
    }
    std::string error;
    if (!checkReadableFile(options.input, error))
        return ioError(error);
    OutputFile output, record;
    if (!output.prepare(options.output, options.force, error))
        return ioError(error);
    if (!options.record.empty() && !record.prepare(options.record, options.force, error))
        return ioError(error);

    pauseIfAsked("read");
    runner.status(job, "reading   " + fileNameOf(job.input));
    Decoded decoded = decode(job.input);
    int code = kExitInputOutput;
    if (decoded.ok)
        code = runner.run(job, decoded.image, output, options.record.empty() ? nullptr : &record, error);
    else
        error = decoded.error;
    if (showProgress && code == kExitDone)
        finishStatus("done      " + progressBar(100, 40));
    closeStatus();
    if (code != kExitDone) {
        say(error);
        return code;
    }
    runner.sayNotes(job);
    return kExitDone;
}

// Each input's name without its extension, the suffix, and the extension of the format asked
// for or the input's own. Two inputs may not write one file, and no output may replace another
// input, which may not have been read yet.
bool planBatch(const HostOptions& options, std::vector<ImageJob>& jobs, std::string& error)
{
    const size_t count = options.inputs.size();
    std::map<std::string, size_t> outputs;
    for (size_t i = 0; i < count; ++i) {
        ImageJob job;
        job.input = options.inputs[i];
        const std::string name = fileNameOf(job.input);
        const size_t dot = name.find_last_of('.');
        const bool hasExtension = dot != std::string::npos && dot > 0;
        const std::string stem = hasExtension ? name.substr(0, dot) : name;
        std::string extension;
        job.format = options.format;
        if (job.format == ImageFormat::Unknown) {
            job.format = formatFromPath(name);
            extension = hasExtension ? name.substr(dot) : "";
        } else {
            extension = job.format == ImageFormat::Png ? ".png"
                : job.format == ImageFormat::Tiff      ? ".tif"
                                                       : ".jpg";
        }
        if (job.format == ImageFormat::Unknown) {
            error = "cannot tell the format of " + job.input
                + " from its name: give the batch one with --format png, tif or jpg";
            return false;
        }
        job.output = joinPath(options.outputDir, stem + options.suffix + extension);
        job.label = "[" + std::to_string(i + 1) + "/" + std::to_string(count) + "] " + name + ": ";
        const auto [at, fresh] = outputs.emplace(fileKey(job.output), i);
        if (!fresh) {
            error = jobs[at->second].input + " and " + job.input + " would both be written to " + job.output;
            return false;
        }
        jobs.push_back(job);
    }
    for (size_t i = 0; i < count; ++i) {
        const auto found = outputs.find(fileKey(jobs[i].input));
        if (found != outputs.end() && found->second != i) {
            error = jobs[found->second].output + " would replace the input " + jobs[i].input
                + " of the same batch; give the outputs a --suffix or another folder";
            return false;
        }
    }
    return true;
}

// While one image is filtered and written, the next is read on a second thread. A failing file
// is reported and the batch goes on; Ctrl-C ends it after the file under way.
int runBatch(const HostOptions& options, std::vector<ImageJob>& jobs, ImageRunner& runner, bool showProgress)
{
    std::vector<std::string> failures;
    int worst = kExitDone;
    size_t written = 0;
    auto line = [&](const std::string& text) {
        if (showProgress)
            finishStatus(text);
        else if (!options.quiet)
            std::fprintf(stderr, "%s\n", text.c_str());
    };
    std::future<Decoded> next = std::async(std::launch::async, decode, jobs[0].input);
    size_t i = 0;
    for (; i < jobs.size() && !runner.cancelled(); ++i) {
        const ImageJob& job = jobs[i];
        runner.status(job, "reading");
        Decoded decoded = next.get();
        if (i + 1 < jobs.size())
            next = std::async(std::launch::async, decode, jobs[i + 1].input);
        std::string error = decoded.error;
        int code = kExitInputOutput;
        OutputFile output;
        if (decoded.ok && output.prepare(job.output, options.force, error))
            code = runner.run(job, decoded.image, output, nullptr, error);
        const std::string name = job.label.substr(0, job.label.size() - 2);
        if (code == kExitDone) {
            ++written;
            line(name + " -> " + job.output);
            runner.sayNotes(job);
        } else {
            line(name + ": failed");
            failures.push_back(naming(job.input, error));
            worst = std::max(worst, code);
        }
    }
    for (; i < jobs.size(); ++i) {
        failures.push_back(jobs[i].input + ": not read (cancelled)");
        worst = std::max(worst, int(kExitCancelled));
    }
    if (failures.empty()) {
        if (!options.quiet)
            say(std::to_string(written) + (written == 1 ? " file" : " files") + " written");
        return kExitDone;
    }
    say(std::to_string(written) + " of " + std::to_string(jobs.size()) + " files written, "
        + std::to_string(failures.size()) + " failed:");
    for (const std::string& failure : failures)
        std::fprintf(stderr, "  %s\n", failure.c_str());
    return worst;
}

int run(int argc, const char* const* argv)
{
    HostOptions options;
    std::string error;
    if (!parseHostOptions(argc, argv, options, error))
        return usageError(error);
    if (options.help)
        return printed(hostUsage());
    if (options.version)
        return printed("quarvel-host 2.0\n");
    if (options.list)
        return printed(settingsListing());
#if !defined(_WIN32)
    if (options.dialog) {
        std::fprintf(stderr, "quarvel-host: the dialog needs the Windows build; run it under Wine: %s\n",
            windowsHostCommand(argc, argv).c_str());
        return kExitUsage;
    }
    if (!options.plugin.empty())
        return usageError("--plugin is for the Windows host; this one runs the plug-in linked into it");
#endif
    if (!options.batch() && formatFromPath(options.output) == ImageFormat::Unknown)
        return usageError("cannot tell the output format from the name " + options.output
            + ": use .png, .tif, .tiff, .jpg or .jpeg");

    // Settings reach the plug-in as the descriptor of an action step being played back.
    SessionOptions session;
    session.showDialog = options.dialog;
    if (!options.play.empty() && !readActionFile(options.play, session.descriptor, error))
        return ioError(error);
    if (!options.preset.empty() && !applyPreset(options.preset, session.descriptor, error))
        return ioError(error);
    for (const std::string& assignment : options.sets)
        if (!applySetting(assignment, session.descriptor, error))
            return usageError(error);
    session.hasDescriptor = !options.play.empty() || !options.preset.empty() || !options.sets.empty();
    for (const std::string& warning : valuesOutsidePageRange(session.descriptor))
        say("warning: " + warning);

    std::vector<ImageJob> jobs;
    if (options.batch()) {
        if (!planBatch(options, jobs, error))
            return usageError(error);
        if (!makeFolder(options.outputDir, error))
            return ioError("cannot write into " + options.outputDir + ": " + error);
    }

    PluginModule module;
    if (!loadPluginModule(options.plugin, module, error))
        return ioError(error);
    // The dialog has a progress bar of its own.
    const bool showProgress = !options.quiet && !options.dialog && stderrIsTerminal();
#if defined(_WIN32)
    // Made after the console's interrupt handler, so that Ctrl-C reaches the window's first.
    std::optional<DialogOwnerWindow> owner;
    if (options.dialog) {
        owner.emplace();
        session.parentWindow = owner->handle();
    }
#endif
    int code = kExitDone;
    {
        ImageRunner runner(
            module.entry, std::move(session), options.write, showProgress, options.batch() ? 20 : 40);
        code = options.batch() ? runBatch(options, jobs, runner, showProgress)
                               : runSingle(options, runner, showProgress);
    }
#if defined(_WIN32)
    // While the module is still loaded: its dialog code may have hooked into the window.
    owner.reset();
#endif
    unloadPluginModule(module);
    return code;
}

} // namespace

int hostMain(int argc, const char* const* argv)
{
    // Before anything can be interrupted: a Ctrl-C while the input is read is a cancel too.
    installSignalHandlers();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return ioError("not enough memory");
    } catch (const std::exception& failure) {
        return ioError(std::string("unexpected failure: ") + failure.what());
    }
}

} // namespace quarvel::host
