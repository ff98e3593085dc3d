#include "core/WorkerPool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

namespace quarvel {
namespace {

// About fifty microseconds of yielding before a thread blocks on its condition.
constexpr int kSpins = 200;

} // namespace

WorkerPool::WorkerPool(int threads)
{
    const int wanted = std::clamp(threads, 1, 64);
    try {
        for (int index = 1; index < wanted; ++index)
            workers_.emplace_back([this, index] { work(index); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the pieces follow size().
    } catch (const std::bad_alloc&) {
        // The same: threads already started must not be left running when the pool ends.
    }
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void WorkerPool::runPiece(int index)
{
    const int64_t begin = count_ * index / pieces_;
    const int64_t end = count_ * (index + 1) / pieces_;
    if (begin >= end)
        return;
    try {
        (*part_)(index, begin, end);
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_)
            error_ = std::current_exception();
    }
}

void WorkerPool::run(int64_t count, const Piece& part)
{
    if (count <= 0)
        return;
    const int pieces = int(std::min<int64_t>(size(), count));
    if (pieces == 1) {
        part(0, 0, count);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        part_ = &part;
        count_ = count;
        pieces_ = pieces;
        pending_ = pieces - 1;
        error_ = nullptr;
        ++generation_;
    }
    wake_.notify_all();
    runPiece(0);
    for (int spin = 0; spin < kSpins && pending_.load() != 0; ++spin)
        std::this_thread::yield();
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return pending_.load() == 0; });
    part_ = nullptr;
    if (error_) {
        std::exception_ptr error = error_;
        error_ = nullptr;
        std::rethrow_exception(error);
    }
}

void WorkerPool::work(int index)
{
    uint64_t seen = 0;
    while (true) {
        for (int spin = 0; spin < kSpins && generation_.load() == seen && !stopping_.load(); ++spin)
            std::this_thread::yield();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_.load() || generation_.load() != seen; });
            if (stopping_.load())
                return;
            seen = generation_.load();
            if (index >= pieces_)
                continue;
        }
        runPiece(index);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --pending_;
        }
        finished_.notify_one();
    }
}

} // namespace quarvel
