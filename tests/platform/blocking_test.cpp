// Blocking calls on the worker: what they throw reaches the caller as if
// they had run inline, and the end-of-program cleanups start only once the
// call in flight has returned. (That the window goes on meanwhile is shown
// with the main window in tests/engine/fillinflight_test.cpp.)
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/fillfile.h"
#include "platform/shutdown.h"
#include "support/volumes.h"

#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

TEST(Blocking, ErrorsReachTheCallerWithTheirClassicNumbers)
{
    struct Row {
        int err;
        int number;
        bool fileSizeLimit;
    };
    for (const Row& r : {Row{ENOSPC, ErrDiskFull, false}, Row{EFBIG, ErrDiskFull, true}, Row{EIO, ErrDeviceIO, false}}) {
        std::thread::id ranOn;
        try {
            runBlocking([&] {
                ranOn = std::this_thread::get_id();
                throw errorFromErrno(r.err, "/nowhere/tmptxt1.txt", "write");
            });
            ADD_FAILURE() << "no error for errno " << r.err;
        } catch (const RunTimeError& e) {
            EXPECT_EQ(e.number(), r.number) << r.err;
            EXPECT_EQ(e.isFileSizeLimit(), r.fileSizeLimit) << r.err;
            EXPECT_TRUE(e.description().contains("/nowhere/tmptxt1.txt: write: "));
        }
        EXPECT_NE(ranOn, std::this_thread::get_id());
    }
    EXPECT_THROW(runBlocking([] { throw std::bad_alloc(); }), std::bad_alloc);

    // A real full drive, through the fill file's writes on the worker (a
    // disk image: on tmpfs they run inline).
    VOLUME_OR_SKIP(volume, Ext4, 16);
    auto file = FillFile::createExclusive(volume.folder() + "/tmptxt1.txt");
    const QByteArray mib(1 << 20, 'x');
    try {
        for (int i = 0; i < 32; ++i)
            file->append(mib.constData(), mib.size());
        file->commit();
        ADD_FAILURE() << "32 MiB fitted on a 16 MiB drive";
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.number(), ErrDiskFull);
        EXPECT_FALSE(e.isFileSizeLimit());
    }
    file->abandon();
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
