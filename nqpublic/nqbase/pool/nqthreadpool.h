// A small task queue with a fixed set of worker threads.
//
// Tasks are shared objects: the queue, the list of running tasks and the
// poster each hold a reference. Every worker initialises COM and OLE for its
// own thread, takes tasks first in, first out and runs them with no lock held,
// so a task may post further tasks. A task that throws does not take its
// worker down: the failure goes to the debugger output and the worker goes on
// with the next task.
//
// Lifecycle: constructed (not running, one worker) -> StartWorkers -> tasks
// run -> StopWorkers (the running task ends, queued tasks are dropped) ->
// StartWorkers again starts fresh workers. Destruction stops the pool first.
//
// Threads: PostTask, IsStopped and QueuedTasks from any thread; StartWorkers
// and StopWorkers from any thread but a worker of this pool.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class IThreadPool {
public:
    // True while the pool has no running workers.
    virtual bool IsStopped() const = 0;
    virtual ~IThreadPool() = default;
};

// A unit of work. Destroyed through its shared owner, never through this
// interface.
class IThreadTask {
public:
    // Called by PostTask with the pool that will run the task.
    virtual void SetOwnerPool(IThreadPool* pool) = 0;
    // Called from the stopping thread while the task runs on its worker.
    virtual void CancelTask() = 0;
    // Runs on a worker thread.
    virtual void RunTask() = 0;

protected:
    ~IThreadTask() = default;
};

// A task that runs one callable without arguments. Cancelling does nothing:
// a running callable runs to its end. An empty callable is a programming
// error: RunTask raises std::bad_function_call (the worker survives it).
class EasyTask0 final : public IThreadTask {
public:
    explicit EasyTask0(std::function<void()> fn) : fn_(std::move(fn)) {}

    void SetOwnerPool(IThreadPool* pool) override { owner_ = pool; }
    void CancelTask() override {}
    void RunTask() override { fn_(); }

    IThreadPool* OwnerPool() const { return owner_; }

private:
    IThreadPool* owner_ = nullptr;
    std::function<void()> fn_;
};

class ThreadPoolImpl : public IThreadPool {
public:
    static constexpr DWORD kWaitForever = INFINITE;

    ThreadPoolImpl();
    // Stops the pool as StopWorkers() does (from one of its own workers, that
    // worker is let go and ends after its task).
    ~ThreadPoolImpl() override;
    ThreadPoolImpl(const ThreadPoolImpl&) = delete;
    ThreadPoolImpl& operator=(const ThreadPoolImpl&) = delete;

    // Number of workers the next StartWorkers starts (at least 1; 1 after
    // construction). Takes effect at the next start.
    void SetThreadCount(unsigned count);
    unsigned ThreadCount() const;

    // Starts the workers, numbered from 0. Does nothing while running.
    // Thread creation failures raise std::system_error; the workers already
    // started are then stopped again.
    void StartWorkers();

    // Queues `task` (first in, first out) and wakes one worker. Tasks posted
    // while the pool is stopped wait for the next StartWorkers. Returns false
    // only for an empty task.
    bool PostTask(std::shared_ptr<IThreadTask> task);

    // Stops the workers: running tasks get CancelTask and run to their end,
    // every worker is joined, tasks still queued are dropped without running.
    // Does nothing when not running.
    //
    // `waitMs` bounds the wait for the workers. A worker still busy in its
    // task when the time is up is let go: it ends by itself once its task
    // returns, touching nothing of this object. Returns true when every
    // worker has ended (always true with kWaitForever).
    //
    // Refused from a worker of this pool: std::system_error with
    // std::errc::resource_deadlock_would_occur, and the pool keeps running.
    bool StopWorkers(DWORD waitMs = kWaitForever);

    bool IsStopped() const override;

    // Drops the queued tasks (they never run); returns how many.
    size_t DropQueuedTasks();
    size_t QueuedTasks() const;

private:
    struct Shared;
    struct Crew;
    static void WorkerLoop(std::shared_ptr<Shared> shared, std::shared_ptr<Crew> crew, unsigned index);
    bool Stop(DWORD waitMs);

    std::shared_ptr<Shared> shared_;  // queue, running list, locks: shared with the workers
    mutable std::mutex control_;      // serialises start and stop
    std::vector<std::thread> workers_;
    std::shared_ptr<Crew> crew_;      // the started workers' exit flags
    unsigned threadCount_ = 1;
};
