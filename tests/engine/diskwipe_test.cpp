// The wipe of a whole disk on real loop devices. Every MiB of the device
// holds a marker before (the first, where a partition table lies,
// included); each row says what the command must leave of them. Then a
// byte changed behind the wipe's back before its read-back fails it.
#include "app/console.h"
#include "engine/diskwipe.h"
#include "platform/services.h"
#include "records/certificate.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QFile>
#include <functional>
#include <gtest/gtest.h>

using testsupport::LoopDisk;
using testsupport::runCommand;

namespace {

const QByteArray kMarker = "zqxdiskmarker-";
constexpr int kMiB = 16;

// Past the first 8 KiB of each MiB: a swap signature or a file system made
// on the disk takes the first page, never a marker.
bool putMarkers(const QString& image)
{
    QFile f(image);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    for (int i = 0; i < kMiB; ++i)
        if (!f.seek((qint64(i) << 20) + 8192) || f.write(kMarker) != kMarker.size())
            return false;
    return f.flush();
}

class QuietDiskView : public engine::DiskWipeView {
public:
    std::function<void(const QString&)> onStatus;
    void setStatus(const QString& text) override
    {
        if (onStatus)
            onStatus(text);
    }
    void setProgress(int, int, std::uint64_t, std::uint64_t, double) override {}
};

} // namespace

TEST(DiskWipe, EverySectorIsWrittenOnlyWhenAgreedAndNeverOnARefusedDisk)
{
    const struct Row {
        const char* what;
        std::function<bool(LoopDisk&)> setUp; // false: the row cannot run here
        QStringList args;
        int rc;
        bool markersLeft;
    } rows[] = {
        {"without --yes nothing is written", {}, {}, 1, true},
        {"random data, two passes, a sampled read-back", {}, {"--yes", "--passes", "2", "--verify", "sample"}, 0, false},
        {"zeros", {}, {"--yes", "--method", "zero"}, 0, false},
        {"a discard, then zeros the device writes", {}, {"--yes", "--method", "discard"}, 0, false},
        {"its own erase, which a loop device does not offer, is refused", {}, {"--yes", "--method", "erase"}, 1, true},
        {"random data, then a new GPT with one ext4 partition", {}, {"--yes", "--new-table", "ext4", "--label", "ZQXNEW"}, 0, false},
        {"a new table of a file system no mkfs here makes is a usage error", {}, {"--yes", "--new-table", "zfs"}, 2, true},
        {"a mounted file system is unmounted once agreed to, then wiped",
         [](LoopDisk& d) {
             return runCommand("mkfs.ext4", {"-q", "-F", d.device()}) == 0 && putMarkers(d.image()) &&
                    runCommand("mount", {d.device(), d.mountPoint()}) == 0;
         },
         {"--yes"}, 0, false},
        {"an active swap is refused",
         [](LoopDisk& d) {
             return runCommand("mkswap", {d.device()}) == 0 && runCommand("swapon", {d.device()}) == 0;
         },
         {"--yes"}, 1, true},
        {"a bad --passes is a usage error", {}, {"--yes", "--passes", "0"}, 2, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LoopDisk disk(kMiB);
        if (!disk.ok())
            GTEST_SKIP() << disk.skipReason().toStdString();
        ASSERT_TRUE(putMarkers(disk.image()));
        if (row.setUp && !row.setUp(disk)) {
            std::printf("%s: cannot be set up here\n", row.what);
            continue;
        }
        const qint64 before = testsupport::countInFile(disk.image(), kMarker);
        ASSERT_EQ(before, kMiB);
        EXPECT_EQ(app::runConsole(QStringList{"disk", disk.device()} + row.args), row.rc);
        EXPECT_EQ(testsupport::countInFile(disk.image(), kMarker), row.markersLeft ? before : 0);
        QString mounts;
        runCommand("findmnt", {"-n", disk.mountPoint()}, &mounts);
        EXPECT_EQ(mounts.trimmed(), "") << "still mounted";
        // The table as another tool reads it (this kernel reads none itself):
        // the first MiB to the last whole one, named.
        if (row.rc == 0 && row.args.contains("--new-table")) {
            QString table;
            EXPECT_EQ(runCommand("partx", {"-g", "-o", "START,END,NAME", disk.device()}, &table), 0);
            EXPECT_EQ(table.simplified(), "2048 30719 ZQXNEW");
        }
        if (row.args.contains("zero") || row.args.contains("discard")) {
            QFile image(disk.image());
            ASSERT_TRUE(image.open(QIODevice::ReadOnly));
            EXPECT_EQ(image.readAll().count('\0'), qint64(kMiB) << 20);
        }
    }
    // A name that leads to no whole disk.
    EXPECT_EQ(app::runConsole({"disk", "/dev/null", "--yes"}), 1);
}

TEST(DiskWipe, AByteChangedBeforeTheReadBackFailsTheWipe)
{
    LoopDisk disk(kMiB);
    if (!disk.ok())
        GTEST_SKIP() << disk.skipReason().toStdString();
    testsupport::ScriptedPrompter prompter;
    QuietDiskView view;
    const qint64 changed = (qint64(5) << 20) + 77;
    bool corrupted = false;
    view.onStatus = [&](const QString& text) {
        corrupted = corrupted || (text.startsWith("Reading") && testsupport::changeByte(disk.image(), changed));
    };
    const engine::DiskWipeResult r = engine::wipeDisk(disk.device(), {}, prompter, view);
    ASSERT_TRUE(corrupted);
    EXPECT_FALSE(r.completed());
    EXPECT_EQ(r.verification, platform::Verification::Failed);
    EXPECT_TRUE(r.problem.startsWith(QStringLiteral("byte %1 of ").arg(changed))) << r.problem.toStdString();
    ASSERT_EQ(prompter.confirmations.size(), 1);
    EXPECT_TRUE(prompter.confirmations[0].startsWith("Wipe the whole disk " + disk.device() + " (loop, 16.0 MiB, model loop device of "))
        << prompter.confirmations[0].toStdString();
}

// Three ranges the device fails to write and read: the wipe goes on past
// them, writes every other byte, and names exactly those, sector-exact.
TEST(DiskWipe, BadSectorsArePassedOverAndNamed)
{
    const QList<std::pair<qint64, qint64>> bad{{(1 << 20) + 4096, 4096}, {5 << 20, 512}, {(9 << 20) + 1536, 1024}};
    LoopDisk disk(kMiB, bad);
    if (!disk.ok())
        GTEST_SKIP() << disk.skipReason().toStdString();
    {
        QFile image(disk.image());
        ASSERT_TRUE(image.open(QIODevice::ReadWrite));
        ASSERT_EQ(image.write(QByteArray(qint64(kMiB) << 20, '\xAA')), qint64(kMiB) << 20);
    }
    testsupport::ScriptedPrompter prompter;
    QuietDiskView view;
    engine::DiskWipePlan plan;
    plan.method = engine::DiskMethod::Zeros;
    const engine::DiskWipeResult r = engine::wipeDisk(disk.device(), plan, prompter, view);
    EXPECT_TRUE(r.reachedEnd()) << r.problem.toStdString();
    EXPECT_FALSE(r.completed());
    std::vector<engine::BadRange> named;
    for (const auto& [offset, bytes] : bad)
        named.push_back({std::uint64_t(offset), std::uint64_t(bytes)});
    EXPECT_EQ(r.badRanges, named);
    EXPECT_EQ(r.outcomeText(), "completed with 11 unreadable sectors");
    // Every byte but those of the bad ranges was written.
    QFile image(disk.image());
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    const QByteArray bytes = image.readAll();
    qint64 kept = 0;
    for (const auto& [offset, size] : bad)
        kept += bytes.mid(offset, size).count('\xAA');
    EXPECT_EQ(bytes.count('\xAA'), kept);
    EXPECT_EQ(kept, 4096 + 512 + 1024);
    // The record says the same, and its certificate names the disk.
    const std::optional<records::WipeRecord> rec = records::Store().find(r.recordId);
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->process, records::ProcessKind::WholeDisk);
    EXPECT_EQ(rec->outcome, records::Outcome::Incomplete);
    EXPECT_EQ(rec->level, "Overwrite with zeros (NIST SP 800-88: Clear)");
    EXPECT_EQ(rec->bytesWritten, std::uint64_t(kMiB) << 20);
    EXPECT_EQ(rec->verification, platform::Verification::Passed);
    EXPECT_EQ(rec->notes.count("Unreadable: bytes "), 3) << rec->notes.toStdString();
    EXPECT_TRUE(rec->notes.contains("completed with 11 unreadable sectors"));
    const QList<records::CertificateSection> sections = records::certificateSections(*rec);
    ASSERT_GE(sections.size(), 2);
    EXPECT_EQ(sections[1].title, "Disk");
    EXPECT_EQ(sections[1].rows[0].second, disk.device());
    // The command line says it and does not call it success.
    EXPECT_EQ(app::runConsole({"disk", disk.device(), "--yes", "--verify", "sample"}), 1);
}

// The time left counts the rest of this pass and every pass after it.
TEST(DiskWipe, ProgressCountsThePassesStillToCome)
{
    const struct Row {
        int pass, passes;
        std::uint64_t done;
        const char* says;
    } rows[] = {
        {1, 1, 50, "pass 1 of 1: 50.0 %, 0.0 MB/s, 0:00:05 left to write"},
        {1, 3, 50, "pass 1 of 3: 50.0 %, 0.0 MB/s, 0:00:25 left to write"},
        {3, 3, 100, "pass 3 of 3: 100.0 %, 0.0 MB/s, 0:00:00 left to write"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(engine::diskProgressText(row.pass, row.passes, row.done, 100, 10.0), row.says);
    EXPECT_EQ(engine::diskProgressText(1, 2, 0, 7200ull * 10, 10.0), "pass 1 of 2: 0.0 %, 0.0 MB/s, 4:00:00 left to write");
}
