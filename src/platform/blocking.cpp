#include "platform/blocking.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

struct Job {
    const std::function<void()>* call;
    std::exception_ptr error;
    bool finished = false; // under the worker's mutex
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
    bool finished(const Job& job)
    {
        const std::lock_guard lock(mutex_);
        return job.finished;
    }
    void waitFor(const Job& job)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return job.finished; });
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
                // The waiting event loop is woken after the job is marked
                // finished (a wake before it could be taken and leave the
                // loop asleep), under the lock its owner reads it with (so
                // the owner cannot return and end the application first).
                const std::lock_guard lock(mutex_);
                job->finished = true;
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
Worker& worker()
{
    static Worker* w = new Worker;
    return *w;
}

// Both belong to the thread that waits (the application's).
thread_local WhileBlocked* innermostTick = nullptr;
thread_local int quietDepth = 0;

} // namespace

void runOffUiThread(const std::function<void()>& call)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || onWorker || QThread::currentThread() != app->thread()) {
        call();
        return;
    }
    Job job{&call, {}, false};
    worker().submit(job);
    if (quietDepth > 0) {
        worker().waitFor(job);
    } else {
        // Counts time while the call takes it (a fast call never sees it).
        std::unique_ptr<QTimer> ticker;
        if (innermostTick) {
            ticker = std::make_unique<QTimer>();
            QObject::connect(ticker.get(), &QTimer::timeout, innermostTick->tick_);
            ticker->start(innermostTick->intervalMs_);
        }
        while (!worker().finished(job))
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (job.error)
        std::rethrow_exception(job.error);
}

WhileBlocked::WhileBlocked(std::function<void()> tick, int intervalMs)
    : tick_(std::move(tick)), intervalMs_(intervalMs), outer_(innermostTick)
{
    innermostTick = this;
}

WhileBlocked::~WhileBlocked()
{
    innermostTick = outer_;
}

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
