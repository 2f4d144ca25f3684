#include "platform/blocking.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {

namespace {

// A call that has ended after this long puts the waiting thread to sleep in
// its event loop; most (a stat, a small write) end sooner, and sleeping and
// waking would cost more than the call.
constexpr auto kSpin = std::chrono::microseconds(200);

struct Job {
    const std::function<void()>* call;
    std::exception_ptr error;
    std::atomic<bool> finished{false};
    bool wantsWake = false; // under the worker's mutex: the owner sleeps in its event loop
};

thread_local bool onWorker = false;

// One thread, started at the first call and kept for the program's life:
// calls run one after another in the order they came.
class Worker {
public:
    void submit(Job& job)
    {
        const std::lock_guard lock(mutex_);
        if (!started_) {
            std::thread([this] { loop(); }).detach();
            started_ = true;
        }
        queue_.push_back(&job);
        wanted_.notify_one();
    }
    // The owner is about to sleep in its event loop: wake it at the end.
    void wantWake(Job& job)
    {
        const std::lock_guard lock(mutex_);
        job.wantsWake = true;
    }
    // Read under the lock the wake is posted under: the owner cannot leave
    // (and end the application) before the post is done.
    bool finished(const Job& job)
    {
        const std::lock_guard lock(mutex_);
        return job.finished;
    }
    void waitFor(const Job& job)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return job.finished.load(); });
    }

private:
    void loop()
    {
        onWorker = true;
        for (;;) {
            Job* job = nullptr;
            {
                std::unique_lock lock(mutex_);
                wanted_.wait(lock, [&] { return !queue_.empty(); });
                job = queue_.front();
                queue_.pop_front();
            }
            try {
                (*job->call)();
            } catch (...) {
                job->error = std::current_exception();
            }
            {
                // A sleeping owner is woken after the job is marked finished
                // (a wake before it could be taken and leave the loop
                // asleep). Once it is marked, an owner that did not sleep
                // may already be gone with its job: nothing of it is read
                // after.
                const std::lock_guard lock(mutex_);
                const bool wake = job->wantsWake;
                job->finished = true;
                if (wake)
                    QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
            }
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wanted_, done_;
    std::deque<Job*> queue_;
    bool started_ = false;
};

// Never destroyed: the thread may still wait on it while the program ends.
Worker& worker(Lane lane = Lane::Worker)
{
    static Worker* w[2] = {new Worker, new Worker};
    return *w[lane == Lane::Worker ? 0 : 1];
}

// Both belong to the thread that waits (the application's).
thread_local int waitDepth = 0;
thread_local int quietDepth = 0;

bool onApplicationThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

struct PendingCall::State {
    std::function<void()> call;
    Job job{&call, {}, {false}, false};
    Worker* worker = nullptr;
    bool onWorker = false; // else it ran inline, and `job.error` holds what it threw
    bool waited = false;
};

PendingCall::PendingCall(std::function<void()> call, Lane lane) : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.call = std::move(call);
    s.onWorker = !onWorker && onApplicationThread();
    s.worker = &worker(lane);
    if (s.onWorker) {
        s.worker->submit(s.job);
        return;
    }
    try {
        s.call();
    } catch (...) {
        s.job.error = std::current_exception();
    }
}

PendingCall::~PendingCall()
{
    if (state_->onWorker && !state_->waited)
        state_->worker->waitFor(state_->job);
}

void PendingCall::wait()
{
    State& s = *state_;
    if (s.onWorker && !s.waited) {
        Job& job = s.job;
        Worker& worker = *s.worker;
        if (quietDepth > 0) {
            worker.waitFor(job);
        } else {
            const auto spinEnd = std::chrono::steady_clock::now() + kSpin;
            while (!job.finished && std::chrono::steady_clock::now() < spinEnd)
                std::this_thread::yield();
            if (!job.finished) {
                worker.wantWake(job);
                ++waitDepth;
                while (!worker.finished(job))
                    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
                --waitDepth;
            }
        }
    }
    s.waited = true;
    if (s.job.error)
        std::rethrow_exception(std::exchange(s.job.error, nullptr));
}

void runOffUiThread(const std::function<void()>& call)
{
    PendingCall(call).wait();
}

WhileBlocked::WhileBlocked(std::function<void()> tick, int intervalMs)
{
    if (!onApplicationThread())
        return; // every call runs inline: nothing to count
    timer_ = std::make_unique<QTimer>();
    QObject::connect(timer_.get(), &QTimer::timeout, [tick = std::move(tick)] {
        if (waitDepth > 0)
            tick();
    });
    timer_->start(intervalMs);
}

WhileBlocked::~WhileBlocked() = default;

QuietWaits::QuietWaits()
{
    ++quietDepth;
}

QuietWaits::~QuietWaits()
{
    --quietDepth;
}

void finishCallInFlight()
{
    runOffUiThread([] {});
}

} // namespace platform
