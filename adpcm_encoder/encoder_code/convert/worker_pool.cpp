#include "convert/worker_pool.h"

#include <new>
#include <system_error>

#include "platform/interruption.h"

namespace convert {

using platform::InterruptionsKeptFromThreads;

WorkerPool::WorkerPool(std::size_t workers) {
    const InterruptionsKeptFromThreads keptFromThreads;
    threads_.reserve(workers > 1 ? workers - 1 : 0);
    // Under a limit on threads or memory the pool goes on with those it has
    // started, or with the calling thread alone: what it makes does not
    // depend on how many there are.
    for (std::size_t worker = 1; worker < workers; ++worker) {
        try {
            threads_.emplace_back(&WorkerPool::Serve, this, worker);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    jobPosted_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

void WorkerPool::Run(std::size_t items, const Job& job) {
    Post(items, job);
    Wait();
}

void WorkerPool::Post(std::size_t items, const Job& job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        items_ = items;
        next_ = 0;
        unfinished_ = items;
        ++generation_;
    }
    jobPosted_.notify_all();
}

void WorkerPool::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    Work(0, lock);
    jobDone_.wait(lock, [this] { return unfinished_ == 0; });
    job_ = nullptr;
}

void WorkerPool::Serve(std::size_t worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    unsigned long served = 0;
    for (;;) {
        jobPosted_.wait(lock, [&] { return ending_ || generation_ != served; });
        if (ending_) return;
        served = generation_;
        Work(worker, lock);
    }
}

void WorkerPool::Work(std::size_t worker, std::unique_lock<std::mutex>& lock) {
    while (next_ < items_) {
        const std::size_t item = next_++;
        const Job& job = *job_;
        lock.unlock();
        job(worker, item);
        lock.lock();
        if (--unfinished_ == 0) jobDone_.notify_all();
    }
}

}  // namespace convert
