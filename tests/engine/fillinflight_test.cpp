// The main window while a free-space wipe waits for the disk: a close
// confirmed then ends cleanly with the pass's fill files deleted, and the
// window's state goes on updating. A real tmpfs, with the first call of one
// kind held on the worker by a stand-in.
#include "app/form1.h"
#include "session/settings.h"
#include "controls/drivelistbox.h"
#include "platform/blocking.h"
#include "support/fillfakes.h"
#include "support/volumes.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <utility>

using namespace std::chrono_literals;
using Held = std::chrono::steady_clock::duration;

namespace {

enum class Slow { Write, Flush, Delete };

// A fill file whose writes and flush go through `slow` first.
struct SlowWriter : engine::FillWriter {
    SlowWriter(std::function<void(Slow)> s, std::unique_ptr<engine::FillWriter> w) : slow(s), inner(std::move(w)) {}
    std::function<void(Slow)> slow;
    std::unique_ptr<engine::FillWriter> inner;
    void append(const char* data, std::size_t size) override { inner->append(data, size); }
    void commit() override { slow(Slow::Write); inner->commit(); }
    void endDirect() override { inner->endDirect(); }
    void close() override { slow(Slow::Flush); inner->close(); }
    void abandon() override { inner->abandon(); }
    std::uint64_t written() const override { return inner->written(); }
};

// The disk behind t:. Its first call of kind `kind` holds the worker while
// `hold` says so (asked there, with the time held); `meanwhile` runs from
// the event loop as it starts.
struct SlowDisk : engine::DiskFillTarget {
    SlowDisk(platform::DriveServices& drives, Slow kind) : DiskFillTarget(drives, "t:"), kind(kind) {}
    Slow kind;
    bool done = false;
    std::atomic<bool> holding{false};
    std::function<bool(Held)> hold;
    std::function<void()> meanwhile;

    void slow(Slow k)
    {
        if (k != kind || std::exchange(done, true))
            return;
        holding = true;
        QTimer::singleShot(0, meanwhile);
        platform::runBlocking([this] {
            for (const auto start = std::chrono::steady_clock::now(); hold(std::chrono::steady_clock::now() - start);)
                std::this_thread::sleep_for(5ms);
            holding = false;
        });
    }
    std::unique_ptr<engine::FillWriter> create(const QString& path) override
    {
        return std::make_unique<SlowWriter>([this](Slow k) { slow(k); }, DiskFillTarget::create(path));
    }
    void remove(const QString& path) override
    {
        slow(Slow::Delete);
        DiskFillTarget::remove(path);
    }
};

class FillInFlight : public ::testing::Test {
protected:
    testsupport::ScratchVolume volume{testsupport::ScratchVolume::Kind::Tmpfs, 4};
    testsupport::EnvGuard drivesEnv{"ZARVEX_DRIVES", "c=/;t=" + volume.folder()};
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    std::unique_ptr<app::Form1> window;
    SlowDisk* disk = nullptr;
    int ended = 0;
    QStringList filesAtEnd{"not ended"};

    void SetUp() override
    {
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
    }
    QStringList fillFiles() const { return testsupport::fillFilesIn(volume.folder()); }
    // Descriptors this process holds on files of the volume.
    int openFiles() const
    {
        int n = 0;
        for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System))
            n += fd.symLinkTarget().startsWith(volume.folder() + '/') ? 1 : 0;
        return n;
    }
    // A Short free-space wipe of t: through the main window, slow at `kind`.
    void wipe(Slow kind, std::function<bool(Held)> hold, std::function<void()> meanwhile)
    {
        session::settings() = session::ProcessSettings{};
        ended = 0;
        window = std::make_unique<app::Form1>(platform::Services{&drives, &prompter, &clock}, [this] {
            ++ended;
            filesAtEnd = fillFiles();
        });
        window->fillTargetFactory = [=, this](const QString&) {
            auto d = std::make_unique<SlowDisk>(drives, kind);
            d->hold = hold;
            d->meanwhile = meanwhile;
            disk = d.get();
            return d;
        };
        window->show();
        ASSERT_TRUE(window->Drive1->setDrive("t:"));
        window->Combo1->setCurrentIndex(3); // Security Wipe Free Space
        window->Combo1_click();
        window->Option7->click();
        window->Command1_Click();
    }
};

} // namespace

TEST_F(FillInFlight, CloseConfirmedWhileACallWaitsEndsWithTheFillFilesDeleted)
{
    for (Slow kind : {Slow::Write, Slow::Flush, Slow::Delete}) {
        SCOPED_TRACE(static_cast<int>(kind));
        bool heldAtClose = false;
        wipe(kind, [](Held held) { return held < 200ms; }, [&] {
            heldAtClose = disk->holding;
            prompter.confirmYes = true;
            window->close(); // the close box, and Yes to the close query
        });
        EXPECT_TRUE(heldAtClose);
        EXPECT_EQ(ended, 1);
        EXPECT_TRUE(filesAtEnd.isEmpty()) << filesAtEnd.join(",").toStdString();
        // Where the program would have ended, the test goes on: nothing is
        // left on the volume or open on it.
        EXPECT_TRUE(fillFiles().isEmpty());
        EXPECT_EQ(openFiles(), 0);
    }
}

TEST_F(FillInFlight, WindowStateUpdatesWhileACallWaits)
{
    std::atomic<bool> held{true};
    bool cancelEnabledDuring = false;
    QString timeBefore, timeDuring;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Held until the process time has moved on by itself.
        if (window->Text7->text() == timeBefore && disk->holding)
            return;
        timeDuring = window->Text7->text();
        held = false;
        poll.stop();
    });
    wipe(Slow::Flush, [&](Held h) { return held && h < 10s; }, [&] {
        cancelEnabledDuring = window->Command2->isEnabled();
        timeBefore = window->Text7->text();
        clock.advance(3000);
        prompter.confirmYes = false; // the close query runs; No goes on
        window->close();
        poll.start(20);
    });
    EXPECT_TRUE(cancelEnabledDuring); // as Stop
    EXPECT_NE(timeDuring, timeBefore);
    EXPECT_EQ(prompter.confirmations.filter("Close Process").size(), 1);
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(window->lastFill.completed) << window->lastFill.message.toStdString();
    EXPECT_TRUE(window->Command2->isEnabled());
}
