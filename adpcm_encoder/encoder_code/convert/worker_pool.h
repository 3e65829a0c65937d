// A fixed set of threads that share out the items of a job: the encoding
// pass's blocks, which are independent of each other.
//
// The threads are started once, by the constructor, with interruptions kept
// from them: they inherit that, and so every interruption reaches the thread
// that started them, whose hold-offs it then honours. They wait between
// jobs and end with the pool. What an item writes must not overlap what
// another item writes; then the result does not depend on how many threads
// there are, nor on which thread takes which item.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace convert {

class WorkerPool {
public:
    // The worker for item i of a job gets a number below workers() (at least
    // 1), the calling thread being worker 0. Starts up to `workers` - 1
    // threads: as many as the system lets it, none if it lets it start none.
    // Throws std::bad_alloc when memory runs out.
    explicit WorkerPool(std::size_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t workers() const { return threads_.size() + 1; }

    using Job = std::function<void(std::size_t worker, std::size_t item)>;
    // Calls job(worker, item) once for every item below `items`; returns once
    // all have returned. The job must not throw.
    void Run(std::size_t items, const Job& job);

    // The same in two halves: Post hands the items to the threads and
    // returns at once, so that the caller can do other work meanwhile; Wait
    // takes what is left of them and returns once all are done. `job` must
    // outlive the Wait, which must come before the next Post or Run.
    void Post(std::size_t items, const Job& job);
    void Wait();

private:
    void Serve(std::size_t worker);
    // Ends and joins the threads started.
    void Stop();
    // Takes items of the current job until none is left; called with the lock held.
    void Work(std::size_t worker, std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable jobPosted_, jobDone_;
    const Job* job_ = nullptr;
    std::size_t items_ = 0, next_ = 0, unfinished_ = 0;
    unsigned long generation_ = 0;  // jobs posted
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace convert
