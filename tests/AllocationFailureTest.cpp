// A whole run with every allocation failing in turn: the global operator new of this program
// throws at the Nth call after arming, the host refuses its Nth memory request, and the image
// blocks fail. Each run must end as an unfailing run does or with memFullErr and the host's image
// untouched; the sanitizers watch for leaks and stray accesses. A program of its own, since it
// replaces operator new for everything linked into it.
#include "control/ProcessingController.h"
#include "platform/Platform.h"
#include "tests/settings/SettingsTexts.h"
#include "tests/support/FakeHost.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

std::atomic<bool> gArmed { false };
std::atomic<long> gAllocations { 0 };
std::atomic<long> gFailAt { 0 }; // 0: count only
std::atomic<bool> gFailed { false };

bool grant()
{
    if (!gArmed.load())
        return true;
    const long n = ++gAllocations;
    if (n != gFailAt.load())
        return true;
    gFailed = true;
    return false;
}

void* allocate(std::size_t size, bool nothrow)
{
    void* block = grant() ? std::malloc(size ? size : 1) : nullptr;
    if (!block && !nothrow)
        throw std::bad_alloc();
    return block;
}

} // namespace

void* operator new(std::size_t size) { return allocate(size, false); }
void* operator new[](std::size_t size) { return allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace quarvel::test;
using namespace pluginapi;

constexpr int kWidth = 24, kHeight = 20;
int gFaults = 0;

void fault(const std::string& what)
{
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    ++gFaults;
}

// Every stage on, with values that make each of them change the image, in the order of the
// descriptor's keys and then the sharpening method. Leading zeros make the values long enough that
// the settings document has to grow to take them.
std::vector<FakeHost::Value> everythingOn(size_t zeros)
{
    const char* const values[] = { "1", "1", "1", "1", "60", "30", "1.5", "100", "60", "30", "1.5", "100",
        "1", "20", "20", "0", "1", "10", "10", "150", "2.0", "10", "2", "170", "150", "1.5", "10", "2", "85",
        "80", "2.0", "10", "30", "3.0", "20", "5" };
    std::vector<FakeHost::Value> played;
    for (size_t i = 0; i < std::size(values); ++i) {
        const std::string& k = quarvel::kDescriptorKeysAndNames[i];
        played.push_back({ fourCC({ k[0], k[1], k[2], k[3], 0 }), std::string(zeros, '0') + values[i] });
    }
    played.push_back({ fourCC("SMth"), std::string(zeros, '0') + "1" });
    return played;
}

struct Outcome {
    int16_t result = 0;
    std::vector<uint32_t> pixels;
    std::vector<std::string> recorded;
    bool untouched = false; // nothing was written to the host's output
};

// The host is set up before arming, and its own containers are reserved so that only the
// plug-in's allocations are counted.
Outcome runOnce(long failAt, int failHostAllocation, size_t zeros = 0)
{
    FakeHost host(kWidth, kHeight, 3, 8);
    host.fillInput(11);
    host.copyInputToOutput = false; // so that any write shows
    host.playDescriptor = true;
    host.playback = everythingOn(zeros);
    host.keepRecordedText = zeros == 0; // long texts would be the host's own allocations
    host.failHostAllocation = failHostAllocation;
    host.requestedKeys.reserve(64);
    host.recorded.reserve(64);

    gAllocations = 0;
    gFailAt = failAt;
    gFailed = false;
    gArmed = true;
    const int16_t result = host.run();
    gArmed = false;

    Outcome o { result, {}, {}, true };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int p = 0; p < 3; ++p) {
                o.pixels.push_back(host.output(x, y, p));
                o.untouched = o.untouched && o.pixels.back() == 0;
            }
    for (const FakeHost::Value& v : host.recorded)
        o.recorded.push_back(std::to_string(v.key) + "=" + v.text);
    if (failHostAllocation > 0 && host.hostAllocations >= failHostAllocation)
        fault("the host's memory is asked for: cover its failures here");
    return o;
}

void check(const Outcome& o, const Outcome& reference, const std::string& label)
{
    if (o.result == noErr) {
        if (o.pixels != reference.pixels)
            fault(label + ": success with an image unlike an unfailing run's");
        if (o.recorded != reference.recorded)
            fault(label + ": success with a recorded step unlike an unfailing run's");
    } else if (o.result != memFullErr) {
        fault(label + ": result " + std::to_string(o.result) + " rather than memFullErr");
    } else if (!o.untouched) {
        fault(label + ": memFullErr with the host's image changed");
    }
}

} // namespace

int main()
{
    // Threads of a pool of their own allocate too, in whichever order they run; the grain is
    // seeded from the clock unless it is told otherwise.
    setenv("QUARVEL_THREADS", "3", 1);
    setenv("QUARVEL_GRAIN_SEED", "7", 1);
    quarvel::platform::setMessageSink([](const char*, const char*, unsigned) {});

    for (const size_t zeros : { size_t(0), size_t(55) }) {
        const Outcome reference = runOnce(0, 0, zeros);
        const long allocations = gAllocations.load();
        if (reference.result != noErr || reference.untouched)
            fault("the unfailing run does not change the image");
        // Threads may allocate a little differently from run to run: a run that never reached
        // its Nth allocation is checked as an unfailing one.
        long hit = 0, succeeded = 0;
        for (long n = 1; n <= allocations; ++n) {
            const Outcome o = runOnce(n, 0, zeros);
            hit += gFailed.load() ? 1 : 0;
            succeeded += o.result == noErr ? 1 : 0;
            check(o, reference,
                "values of " + std::to_string(zeros + 1) + "+ characters, operator new #"
                    + std::to_string(n));
        }
        std::printf(
            "operator new, values of %zu+ characters: %ld allocations in an unfailing run; %ld failed in "
            "turn, %ld of those runs still succeeded\n",
            zeros + 1, allocations, hit, succeeded);
    }
    const Outcome reference = runOnce(0, 0);

    // The host's buffer and handle procedures: the plug-in asks for none today (runOnce says so
    // when that changes).
    check(runOnce(0, 1), reference, "host allocation #1");

    // The image blocks come from the platform, not from operator new.
    quarvel::platform::setAllocationLimit(1);
    check(runOnce(0, 0), reference, "image block");
    quarvel::platform::setAllocationLimit(0);

    // A controller made after all those failures still knows the module's folder.
    quarvel::ProcessingControllerBase* controller = quarvel::createController();
    if (!*quarvel::moduleDirectory())
        fault("the module's folder is lost after a failed allocation");
    quarvel::destroyController(controller);

    if (gFaults) {
        std::fprintf(stderr, "%d faults\n", gFaults);
        return 1;
    }
    return 0;
}
