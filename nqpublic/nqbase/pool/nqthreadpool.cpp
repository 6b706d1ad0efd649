#include "nqthreadpool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <system_error>

#include "../log/nqbaselog.h"
#include "../nqhandle.h"

// State the workers share with the pool object. A worker let go by a bounded
// stop keeps it alive on its own, so the pool may be destroyed meanwhile.
struct ThreadPoolImpl::Shared {
    // The queue lock guards the queue and the generation and pairs with the
    // wake-up condition; the running-list lock guards the running list. They
    // are never held together.
    std::mutex queueLock;
    std::deque<std::shared_ptr<IThreadTask>> queue;
    std::condition_variable wake;
    // Each start and each stop begins a new generation; a worker runs while
    // the generation is the one it was started in.
    unsigned generation = 0;
    std::atomic<bool> running{false};

    std::mutex runningLock;
    std::list<std::shared_ptr<IThreadTask>> runningTasks;
};

// The workers of one start: each sets its flag as the very last thing it does.
struct ThreadPoolImpl::Crew {
    unsigned generation = 0;
    std::mutex lock;
    std::condition_variable ended;
    std::vector<char> done;
};

namespace {
// The pool whose worker the current thread is (null on other threads).
thread_local const void* t_workerOf = nullptr;
}  // namespace

ThreadPoolImpl::ThreadPoolImpl() : shared_(std::make_shared<Shared>()) {}

ThreadPoolImpl::~ThreadPoolImpl() { Stop(kWaitForever); }

void ThreadPoolImpl::SetThreadCount(unsigned count) {
    std::lock_guard<std::mutex> hold(control_);
    threadCount_ = std::max(1u, count);
}

unsigned ThreadPoolImpl::ThreadCount() const {
    std::lock_guard<std::mutex> hold(control_);
    return threadCount_;
}

void ThreadPoolImpl::WorkerLoop(std::shared_ptr<Shared> shared, std::shared_ptr<Crew> crew, unsigned index) {
    t_workerOf = shared.get();
    {
        nq::scoped_coinit com;
        nq::scoped_oleinit ole;
        for (;;) {
            std::shared_ptr<IThreadTask> task;
            {
                std::unique_lock<std::mutex> hold(shared->queueLock);
                shared->wake.wait(hold, [&] {
                    return shared->generation != crew->generation || !shared->queue.empty();
                });
                if (shared->generation != crew->generation) break;
                task = std::move(shared->queue.front());
                shared->queue.pop_front();
            }
            std::list<std::shared_ptr<IThreadTask>>::iterator entry;
            {
                std::lock_guard<std::mutex> hold(shared->runningLock);
                entry = shared->runningTasks.insert(shared->runningTasks.end(), task);
            }
            try {
                task->RunTask();
            } catch (const std::exception& e) {
                DebugTrace(L"thread pool: a task failed: %hs\r\n", e.what());
            } catch (...) {
                DebugTrace(L"thread pool: a task failed\r\n");
            }
            {
                std::lock_guard<std::mutex> hold(shared->runningLock);
                shared->runningTasks.erase(entry);
            }
            task.reset();
        }
    }
    t_workerOf = nullptr;
    {
        std::lock_guard<std::mutex> hold(crew->lock);
        crew->done[index] = 1;
    }
    crew->ended.notify_all();
}

void ThreadPoolImpl::StartWorkers() {
    // A worker of this pool: the pool is running (or stopping), nothing to start.
    if (t_workerOf == shared_.get()) return;
    std::lock_guard<std::mutex> control(control_);
    if (!workers_.empty()) return;
    auto crew = std::make_shared<Crew>();
    crew->done.assign(threadCount_, 0);
    {
        std::lock_guard<std::mutex> hold(shared_->queueLock);
        crew->generation = ++shared_->generation;
        shared_->running = true;
    }
    try {
        for (unsigned i = 0; i < threadCount_; ++i) workers_.emplace_back(&ThreadPoolImpl::WorkerLoop, shared_, crew, i);
    } catch (...) {
        {
            std::lock_guard<std::mutex> hold(shared_->queueLock);
            ++shared_->generation;
            shared_->running = false;
        }
        shared_->wake.notify_all();
        for (auto& worker : workers_) worker.join();
        workers_.clear();
        throw;
    }
    crew_ = std::move(crew);
}

bool ThreadPoolImpl::PostTask(std::shared_ptr<IThreadTask> task) {
    if (!task) return false;
    task->SetOwnerPool(this);
    {
        std::lock_guard<std::mutex> hold(shared_->queueLock);
        shared_->queue.push_back(std::move(task));
    }
    shared_->wake.notify_one();
    return true;
}

bool ThreadPoolImpl::StopWorkers(DWORD waitMs) {
    if (t_workerOf == shared_.get())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                "a worker cannot stop its own pool");
    return Stop(waitMs);
}

// From a worker of this pool (only the destructor gets here so), that worker
// is not waited for: it ends once its task returns.
bool ThreadPoolImpl::Stop(DWORD waitMs) {
    const bool onWorker = t_workerOf == shared_.get();
    std::lock_guard<std::mutex> control(control_);
    if (workers_.empty()) return true;

    // 1. No worker takes another task from now on.
    {
        std::lock_guard<std::mutex> hold(shared_->queueLock);
        ++shared_->generation;
        shared_->running = false;
    }
    shared_->wake.notify_all();

    // 2. Tell the running tasks (outside the lock: a task may take it itself).
    std::vector<std::shared_ptr<IThreadTask>> running;
    {
        std::lock_guard<std::mutex> hold(shared_->runningLock);
        running.assign(shared_->runningTasks.begin(), shared_->runningTasks.end());
    }
    for (auto& task : running) {
        try {
            task->CancelTask();
        } catch (...) {
            DebugTrace(L"thread pool: cancelling a task failed\r\n");
        }
    }
    running.clear();

    // 3. Wait for the workers (the calling thread itself, when it is one,
    //    ends after its task returns).
    const auto self = std::this_thread::get_id();
    std::vector<char> done;
    bool allEnded = true;
    {
        std::unique_lock<std::mutex> hold(crew_->lock);
        auto ended = [&] {
            for (size_t i = 0; i < workers_.size(); ++i)
                if (!crew_->done[i] && !(onWorker && workers_[i].get_id() == self)) return false;
            return true;
        };
        if (waitMs == kWaitForever)
            crew_->ended.wait(hold, ended);
        else
            allEnded = crew_->ended.wait_for(hold, std::chrono::milliseconds(waitMs), ended);
        done = crew_->done;
    }
    for (size_t i = 0; i < workers_.size(); ++i) {
        if (done[i])
            workers_[i].join();
        else
            workers_[i].detach();
    }
    workers_.clear();
    crew_.reset();

    // 4. What is still queued never runs.
    DropQueuedTasks();
    return allEnded;
}

bool ThreadPoolImpl::IsStopped() const { return !shared_->running; }

size_t ThreadPoolImpl::DropQueuedTasks() {
    std::deque<std::shared_ptr<IThreadTask>> dropped;
    {
        std::lock_guard<std::mutex> hold(shared_->queueLock);
        dropped.swap(shared_->queue);
    }
    return dropped.size();  // released here, outside the lock
}

size_t ThreadPoolImpl::QueuedTasks() const {
    std::lock_guard<std::mutex> hold(shared_->queueLock);
    return shared_->queue.size();
}
