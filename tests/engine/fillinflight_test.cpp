// The main window while a free-space wipe waits for the disk: a close
// confirmed then ends cleanly with the pass's fill files deleted, and the
// window's state goes on updating. The disk is a real tmpfs; one call is
// made slow by a stand-in that first holds the worker.
#include "app/form1.h"
#include "app/settings.h"
#include "controls/drivelistbox.h"
#include "engine/filltarget.h"
#include "platform/blocking.h"
#include "support/fakes.h"
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
#include <functional>
#include <optional>
#include <gtest/gtest.h>
#include <thread>

using testsupport::EnvGuard;

namespace {

enum class Slow { Write, Flush, Delete };

using Held = std::chrono::steady_clock::duration;

// The real disk behind t:, whose first call of one kind first holds the
// worker for as long as `holdOn` says (asked on the worker, with the time
// held so far); `onSlowCall` runs from the event loop meanwhile.
class SlowDisk : public engine::DiskFillTarget {
public:
    SlowDisk(platform::DriveServices& drives, Slow kind) : DiskFillTarget(drives, "t:"), kind_(kind) {}

    std::function<bool(Held)> holdOn = [](Held) { return false; };
    std::function<void()> onSlowCall;
    std::atomic<bool> holding{false};

    void maybeSlow(Slow kind)
    {
        if (kind != kind_ || done_)
            return;
        done_ = true;
        holding = true;
        if (onSlowCall)
            QTimer::singleShot(0, onSlowCall);
        platform::runBlocking([this] {
            const auto start = std::chrono::steady_clock::now();
            while (holdOn(std::chrono::steady_clock::now() - start))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            holding = false;
        });
    }
    std::unique_ptr<engine::FillWriter> create(const QString& path) override;
    void remove(const QString& path) override
    {
        maybeSlow(Slow::Delete);
        DiskFillTarget::remove(path);
    }

private:
    Slow kind_;
    bool done_ = false;
};

class SlowWriter : public engine::FillWriter {
public:
    SlowWriter(SlowDisk& disk, std::unique_ptr<engine::FillWriter> inner) : disk_(disk), inner_(std::move(inner)) {}
    void append(const char* data, std::size_t size) override { inner_->append(data, size); }
    void commit() override
    {
        disk_.maybeSlow(Slow::Write);
        inner_->commit();
    }
    void endDirect() override { inner_->endDirect(); }
    void close() override
    {
        disk_.maybeSlow(Slow::Flush);
        inner_->close();
    }
    void abandon() override { inner_->abandon(); }
    std::uint64_t written() const override { return inner_->written(); }

private:
    SlowDisk& disk_;
    std::unique_ptr<engine::FillWriter> inner_;
};

std::unique_ptr<engine::FillWriter> SlowDisk::create(const QString& path)
{
    return std::make_unique<SlowWriter>(*this, DiskFillTarget::create(path));
}

QStringList fillFilesIn(const QString& folder)
{
    return QDir(folder).entryList({"tmptxt*.txt"}, QDir::Files);
}

// Descriptors this process holds open on files under `folder`.
int openFilesUnder(const QString& folder)
{
    int n = 0;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        n += fd.symLinkTarget().startsWith(folder + '/') ? 1 : 0;
    return n;
}

class FillInFlight : public ::testing::Test {
protected:
    testsupport::ScratchVolume volume{testsupport::ScratchVolume::Kind::Tmpfs, 4};
    std::optional<EnvGuard> drivesEnv;
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    std::unique_ptr<app::Form1> window;
    SlowDisk* disk = nullptr;
    int ended = 0;
    std::function<void()> onEnd;

    void SetUp() override
    {
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
        drivesEnv.emplace("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
        app::settings() = app::ProcessSettings{};
    }
    // A Short free-space wipe of t: in the main window, slow at `kind`.
    void startWindow(Slow kind)
    {
        app::settings() = app::ProcessSettings{};
        window = std::make_unique<app::Form1>(platform::Services{&drives, &prompter, &clock}, [this] {
            ++ended;
            if (onEnd)
                onEnd();
        });
        window->fillTargetFactory = [this, kind](const QString&) {
            auto d = std::make_unique<SlowDisk>(drives, kind);
            disk = d.get();
            if (setUpDisk)
                setUpDisk(*disk);
            return d;
        };
        window->show();
        ASSERT_TRUE(window->Drive1->setDrive("t:"));
        window->Combo1->setCurrentIndex(3); // Security Wipe Free Space
        window->Combo1_click();
        window->Option7->click();
    }
    std::function<void(SlowDisk&)> setUpDisk;
};

} // namespace

TEST_F(FillInFlight, CloseConfirmedWhileACallWaitsEndsWithTheFillFilesDeleted)
{
    for (Slow kind : {Slow::Write, Slow::Flush, Slow::Delete}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ended = 0;
        bool heldAtClose = false;
        QStringList filesAtEnd{"not ended"};
        setUpDisk = [&](SlowDisk& d) {
            // The disk answers after a while, whatever the event loop does.
            d.holdOn = [](Held held) { return held < std::chrono::milliseconds(200); };
            d.onSlowCall = [&] {
                heldAtClose = disk->holding;
                prompter.answer(true);
                window->close(); // the close box, and Yes to the close query
            };
        };
        onEnd = [&] { filesAtEnd = fillFilesIn(volume.folder()); };
        startWindow(kind);
        window->Command1_Click();

        EXPECT_TRUE(heldAtClose);
        EXPECT_EQ(ended, 1);
        EXPECT_TRUE(filesAtEnd.isEmpty()) << filesAtEnd.join(",").toStdString();
        // The test goes on where the program would have ended: nothing is
        // left on the volume or open on it.
        EXPECT_TRUE(fillFilesIn(volume.folder()).isEmpty());
        EXPECT_EQ(openFilesUnder(volume.folder()), 0);
        window.reset();
    }
}

TEST_F(FillInFlight, WindowStateUpdatesWhileACallWaits)
{
    std::atomic<bool> held{true};
    bool cancelEnabledDuring = true;
    QString timeBefore, timeDuring;
    setUpDisk = [&](SlowDisk& d) {
        d.holdOn = [&](Held h) { return held && h < std::chrono::seconds(10); };
        d.onSlowCall = [&] {
            cancelEnabledDuring = window->Command2->isEnabled();
            timeBefore = window->Text7->text();
            clock.advance(3000);
            prompter.answer(false); // the close query runs; No goes on
            window->close();
            // Held until the process time has moved on by itself.
            auto* poll = new QTimer(window.get());
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                if (window->Text7->text() == timeBefore && disk->holding)
                    return;
                timeDuring = window->Text7->text();
                held = false;
                poll->stop();
            });
            poll->start(20);
        };
    };
    startWindow(Slow::Flush);
    window->Command1_Click();

    EXPECT_FALSE(cancelEnabledDuring);
    EXPECT_NE(timeDuring, timeBefore);
    EXPECT_EQ(prompter.questions.size(), 1);
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(window->lastFill.completed) << window->lastFill.message.toStdString();
    EXPECT_TRUE(window->Command2->isEnabled());
}
