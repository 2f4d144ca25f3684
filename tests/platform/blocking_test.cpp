// Blocking calls on the worker: what they throw reaches the caller as if
// they had run inline, and the end-of-program cleanups start only once the
// call in flight has returned. (That the window goes on meanwhile is shown
// with the main window in tests/engine/fillinflight_test.cpp.)
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/shutdown.h"

#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

// An OS error, as a classic error number, thrown on the worker: the caller
// catches it as if the call had run inline.
TEST(Blocking, ErrorsReachTheCallerWithTheirClassicNumbers)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tmptxt1.txt");
    struct Row {
        int err;
        int number;
        QString path;
    };
    std::vector<Row> rows{{ENOENT, 53, path}, {ENOENT, 76, dir.filePath("nofolder/x")}, {ENOTDIR, 76, path},
                          {ENOSPC, 61, path}, {EDQUOT, 61, path}, {EFBIG, 61, path}, {ENOMEM, 7, path}, {EIO, 57, path}};
    for (int e : {EACCES, EPERM, EBUSY, ETXTBSY, EROFS, ENOTEMPTY, EEXIST, EISDIR, ELOOP})
        rows.push_back({e, 75, path});
    for (int e : {ENXIO, ENODEV, ENOMEDIUM, ENOTCONN, ESTALE})
        rows.push_back({e, 68, path});
    for (const Row& r : rows) {
        std::thread::id ranOn;
        try {
            runBlocking([&] {
                ranOn = std::this_thread::get_id();
                throw errorFromErrno(r.err, r.path, "write");
            });
            ADD_FAILURE() << "no error for errno " << r.err;
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.number(), r.number) << r.err;
            EXPECT_EQ(e.isFileSizeLimit(), r.err == EFBIG) << r.err;
            EXPECT_TRUE(e.description().contains(r.path + ": write: ")) << e.description().toStdString();
        }
        EXPECT_NE(ranOn, std::this_thread::get_id());
    }
    EXPECT_THROW(runBlocking([] { throw std::bad_alloc(); }), std::bad_alloc);
}

// A confirmed close or a kill request during a call: the cleanups wait for
// it, and nothing else runs while they do.
TEST(Blocking, CleanupsStartOnceTheCallInFlightHasReturned)
{
    std::atomic<bool> callDone{false};
    bool doneWhenCleanupRan = false, tickedDuringCleanup = false, inCleanup = false;
    EndOfProgramGuard guard([&] {
        doneWhenCleanupRan = callDone;
        inCleanup = true;
        runBlocking([] { std::this_thread::sleep_for(100ms); });
        inCleanup = false;
    });
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { tickedDuringCleanup |= inCleanup; });
    ticks.start(5);
    QTimer::singleShot(0, [] { runEndOfProgramCleanups(); });
    runBlocking([&] {
        std::this_thread::sleep_for(300ms);
        callDone = true;
    });
    EXPECT_TRUE(doneWhenCleanupRan);
    EXPECT_FALSE(tickedDuringCleanup);
}
