// One image through the host, once it is decoded: the checks that spare a run its failure, the
// plug-in run, the output written beside its place and committed only if nothing cancelled it
// up to the last moment. What it shares across the images of a batch: the plug-in, the
// settings, the write options, the abort source and what it has said already.
#pragma once

#include "tools/host/HostSession.h"
#include "tools/host/ImageFile.h"
#include "tools/host/OutputFile.h"

#include <set>
#include <string>
#include <vector>

namespace quarvel::host {

struct ImageJob {
    std::string input;
    std::string output;
    ImageFormat format = ImageFormat::Unknown;
    std::string label; // how the status line names the image: empty for a single one
};

// `message` with `path` in front, unless it names the file already.
std::string naming(const std::string& path, const std::string& message);

// For tests: stops at a named moment ("read": before the input is decoded; "commit": with the
// finished files written, before they are moved into place) when QUARVEL_HOST_PAUSE_AT names
// it, says so on stdout and waits for Ctrl-C or another signal, so that a test can send one at
// a known moment rather than after a guessed time.
void pauseIfAsked(const char* moment);

class ImageRunner {
public:
    ImageRunner(pluginapi::PluginEntryProc entry, SessionOptions session, const WriteOptions& write,
        bool showProgress, int barWidth);
    ImageRunner(const ImageRunner&) = delete;
    ImageRunner& operator=(const ImageRunner&) = delete;

    // Runs `file` into `output` (prepared) and, when given, the settings the plug-in hands back
    // into `record` (prepared); both are committed together or neither is. `file` may lose its
    // pixels. The exit code; `error` says why when it is not 0.
    int run(const ImageJob& job, ImageFile& file, OutputFile& output, OutputFile* record, std::string& error);

    // The status line, when it is shown: the job's label and `phase`.
    void status(const ImageJob& job, const std::string& phase);
    // What the last output could not carry of its input's metadata, each thing said once a run.
    void sayNotes(const ImageJob& job);
    bool cancelled() const;

private:
    struct AbortSource {
        long pollsBeforeAbort = -1;
        long polls = 0;
        bool requested = false;
        bool poll();
    };

    pluginapi::PluginEntryProc entry_;
    SessionOptions session_;
    WriteOptions write_;
    bool showProgress_;
    int barWidth_;
    AbortSource abort_;
    int percent_ = 0;
    std::vector<std::string> notCarried_;
    std::set<std::string> noted_;
};

} // namespace quarvel::host
