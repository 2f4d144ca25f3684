#pragma once
// Calls that can block for long (an fsync, a large write, an unlink, a
// statfs on a network drive) run on one worker thread while the calling
// thread's event loop keeps turning: the procedure waits for the call as
// before, the window repaints, counts and answers its close query meanwhile.
//
// Only one call runs at a time, in the order they were asked for. A call
// asked for while another is in flight (by a handler the event loop ran,
// such as the close query) waits behind it, so two calls never race on one
// file. Without an application object, on the worker itself or on another
// thread than the application's, the call simply runs inline.
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

class QTimer;

namespace platform {

// Runs `call` on the worker, turning the event loop until it is done;
// rethrows whatever it threw.
void runOffUiThread(const std::function<void()>& call);

// Where a pending call runs: on the worker, in order with every other
// blocking call, or on a second thread beside it, for a call that may run
// at the same time as the worker's (a read-back keeps two reads of one file
// in flight, so the device never waits between them).
enum class Lane { Worker, Beside };

// A call started on the worker while this thread goes on with work of its
// own (a pass mixes its next chunk while the last one is written); wait()
// then waits for it as runOffUiThread does, and rethrows what it threw.
// Where runOffUiThread would run inline, the call runs at once.
class PendingCall {
public:
    explicit PendingCall(std::function<void()> call, Lane lane = Lane::Worker);
    // Waits for a call not waited for: the worker may not outlive its data.
    ~PendingCall();
    PendingCall(const PendingCall&) = delete;
    PendingCall& operator=(const PendingCall&) = delete;
    void wait();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Runs `call` as runOffUiThread does and returns its result, exactly as if
// it had run inline.
template <typename Call>
auto runBlocking(Call&& call) -> std::invoke_result_t<Call&>
{
    using Result = std::invoke_result_t<Call&>;
    if constexpr (std::is_void_v<Result>) {
        runOffUiThread(call);
    } else {
        std::optional<Result> result;
        runOffUiThread([&] { result.emplace(call()); });
        return std::move(*result);
    }
}

// While it lives, `tick` runs about every `intervalMs` while this thread
// waits for a blocking call, so a long call still shows time passing (the
// process time). A call shorter than that never sees it.
class WhileBlocked {
public:
    explicit WhileBlocked(std::function<void()> tick, int intervalMs = 250);
    ~WhileBlocked();
    WhileBlocked(const WhileBlocked&) = delete;
    WhileBlocked& operator=(const WhileBlocked&) = delete;

private:
    // One timer for the whole: made afresh for every call, it would cost a
    // fast volume more than the calls themselves.
    std::unique_ptr<QTimer> timer_;
};

// While it lives, waits for blocking calls let no event run: the program is
// ending and nothing may start anew (a second close query, a signal).
class QuietWaits {
public:
    QuietWaits();
    ~QuietWaits();
    QuietWaits(const QuietWaits&) = delete;
    QuietWaits& operator=(const QuietWaits&) = delete;
};

// Returns once the call in flight, if any, has returned.
void finishCallInFlight();

} // namespace platform
