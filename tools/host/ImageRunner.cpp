#include "tools/host/ImageRunner.h"

#include "tools/host/Console.h"
#include "tools/host/HostImage.h"
#include "tools/host/HostOptions.h"
#include "tools/host/HostSettings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quarvel::host {

namespace {

// The filter record's sizes are 16-bit.
constexpr int kMaxSide = 32767;

} // namespace

std::string naming(const std::string& path, const std::string& message)
{
    return message.find(path) != std::string::npos ? message : path + ": " + message;
}

void pauseIfAsked(const char* moment)
{
    const char* wanted = std::getenv("QUARVEL_HOST_PAUSE_AT");
    if (!wanted || std::strcmp(wanted, moment) != 0)
        return;
    std::printf("paused at %s\n", moment);
    std::fflush(stdout);
    // Not forever: a test that never sends its signal still ends.
    for (int waited = 0; waited < 6000 && !interruptRequested(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool ImageRunner::AbortSource::poll()
{
    ++polls;
    if (interruptRequested() || (pollsBeforeAbort >= 0 && polls > pollsBeforeAbort))
        requested = true;
    return requested;
}

ImageRunner::ImageRunner(pluginapi::PluginEntryProc entry, SessionOptions session, const WriteOptions& write,
    bool showProgress, int barWidth)
    : entry_(entry)
    , session_(std::move(session))
    , write_(write)
    , showProgress_(showProgress)
    , barWidth_(barWidth)
{
    // For tests: the abort procedure answers "stop" after this many polls.
    if (const char* after = std::getenv("QUARVEL_HOST_ABORT_AFTER"))
        abort_.pollsBeforeAbort = std::strtol(after, nullptr, 10);
    session_.abortRequested = [this] { return abort_.poll(); };
}

bool ImageRunner::cancelled() const { return abort_.requested || interruptRequested(); }

void ImageRunner::status(const ImageJob& job, const std::string& phase)
{
    if (showProgress_)
        drawStatus(job.label + phase);
}

int ImageRunner::run(
    const ImageJob& job, ImageFile& file, OutputFile& output, OutputFile* record, std::string& error)
{
    notCarried_.clear();
    const std::string notWritten = "; " + job.output + " was not written";
    auto cancel = [&] {
        error = "cancelled" + notWritten;
        return kExitCancelled;
    };
    if (cancelled())
        return cancel();
    if (file.width > kMaxSide || file.height > kMaxSide) {
        error
            = job.input + ": images larger than 32767 pixels on a side cannot be handed to a filter plug-in";
        return kExitInputOutput;
    }
    // Refused before the run rather than after it: the user's time matters.
    if (!canWriteImageFile(file, job.format, write_, error)) {
        error = naming(job.output, error);
        return kExitInputOutput;
    }

    SessionOptions options = session_;
    percent_ = 0;
    if (showProgress_) {
        // The plug-in starts its count again when it is done; the bar only moves forward.
        options.progress = [this, &job](int32_t done, int32_t total) {
            if (total > 0)
                percent_ = std::max(percent_, int(std::clamp<int64_t>(int64_t(done) * 100 / total, 0, 100)));
            status(job, "filtering " + progressBar(percent_, barWidth_));
        };
        status(job, "filtering " + progressBar(0, barWidth_));
    }
    HostImage image = toHostImage(file);
    SessionResult outcome;
    {
        HostSession session(entry_, std::move(options));
        outcome = session.run(image);
    }
    if (outcome.prepareResult == pluginapi::userCanceledErr) {
        // The plug-in has told the user why, in its own words.
        error = "the plug-in refused the image" + notWritten;
        return kExitCancelled;
    }
    if (outcome.prepareResult != pluginapi::noErr) {
        error = "the plug-in failed to prepare (result " + std::to_string(outcome.prepareResult) + ")"
            + notWritten;
        return kExitPluginError;
    }
    if (outcome.startResult == pluginapi::userCanceledErr || cancelled())
        return cancel();
    if (outcome.startResult != pluginapi::noErr || !outcome.imageChanged) {
        error = "the plug-in failed (result " + std::to_string(outcome.startResult) + ")" + notWritten;
        return kExitPluginError;
    }
    status(job, "filtering " + progressBar(100, barWidth_));

    status(job, "writing   " + fileNameOf(job.output));
    fromHostImage(image, file);
    if (!writeImageFile(output.temporary(), job.format, file, error, write_, &notCarried_)) {
        error = naming(job.output, output.inUserTerms(error));
        return kExitInputOutput;
    }
    if (record) {
        if (!outcome.recorded) {
            error = "the plug-in recorded no settings; neither " + job.output + " nor " + record->path()
                + " was written";
            return kExitInputOutput;
        }
        std::string reason;
        if (!writeWholeFile(record->temporary(), actionFileText(outcome.recordedDescriptor), reason)) {
            error = "cannot write " + record->path() + ": " + reason + notWritten;
            return kExitInputOutput;
        }
    }
    pauseIfAsked("commit");
    // The last moment a cancel can leave everything as it was.
    if (cancelled())
        return cancel();
    if (!output.commit(error))
        return kExitInputOutput;
    if (record && !record->commit(error)) {
        error += " (" + job.output + " was written)";
        return kExitInputOutput;
    }
    return kExitDone;
}

void ImageRunner::sayNotes(const ImageJob& job)
{
    std::string fresh;
    for (const std::string& what : notCarried_)
        if (noted_.insert(what).second)
            fresh += (fresh.empty() ? "" : ", ") + what;
    if (!fresh.empty())
        std::fprintf(stderr, "quarvel-host: note: %s cannot hold the input's %s; left out\n",
            job.output.c_str(), fresh.c_str());
}

} // namespace quarvel::host
