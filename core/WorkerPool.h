// A few threads that share the work between two progress reports. The calling thread takes a
// part itself and waits for the others, so everything that talks to the controller (reports,
// polls, cancellation) stays on the caller's thread. The threads end with the pool.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quarvel {

class WorkerPool {
public:
    // `threads` in all, the caller included; a pool whose threads cannot be started works alone.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int size() const { return int(workers_.size()) + 1; }

    // Calls part(index, begin, end) for size() contiguous pieces of [0, count), at most one per
    // thread, and returns when all are done; the first exception of a part is rethrown here.
    using Piece = std::function<void(int index, int64_t begin, int64_t end)>;
    void run(int64_t count, const Piece& part);

private:
    void work(int index);
    void runPiece(int index);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const Piece* part_ = nullptr;
    int64_t count_ = 0;
    int pieces_ = 1;
    // Atomic so that a thread can watch them for a moment before it sleeps: the blocks between
    // two reports are short, and waking a sleeping thread costs more than many of them.
    std::atomic<uint64_t> generation_ { 0 };
    std::atomic<int> pending_ { 0 };
    std::atomic<bool> stopping_ { false };
    std::exception_ptr error_;
};

} // namespace quarvel
