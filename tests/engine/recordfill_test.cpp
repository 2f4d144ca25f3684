// The free-space wipe where a data fill alone falls short: btrfs (plain and
// compressing) and NTFS's file records. The proof is the raw image after the
// volume is unmounted: no deleted content and no deleted name left.
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

using testsupport::ScratchVolume;

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush();
}

// Deleted files with one marker for their contents and one for their names;
// the markers are checked on the image before they are deleted.
struct DeletedFiles {
    QByteArray content = testsupport::randomPattern(24);
    QString namePart = QStringLiteral("qzdeleted%1").arg(QString::number(QRandomGenerator::global()->generate(), 36));

    // `large` files of random blocks each opened by the marker (nothing to
    // compress), `small` ones of 100 to 1,800 bytes of it.
    void write(const QString& folder, int large, int small, int smallBytes = 0) const
    {
        for (int i = 0; i < large; ++i) {
            QByteArray blob(1 << 20, '\0');
            for (char& c : blob)
                c = static_cast<char>(QRandomGenerator::global()->generate());
            for (qsizetype at = 0; at < blob.size(); at += 4096)
                blob.replace(at, content.size(), content);
            ASSERT_TRUE(writeFile(folder + QStringLiteral("/large%1.bin").arg(i), blob));
        }
        for (int i = 0; i < small; ++i)
            ASSERT_TRUE(writeFile(folder + QStringLiteral("/%1_%2.txt").arg(namePart).arg(i),
                                  testsupport::repeated(content, smallBytes ? smallBytes : 100 + i * 1700 / small)));
    }
    qint64 contentIn(const QString& image) const { return testsupport::countInFile(image, content.left(16)); }
    // Names as btrfs (bytes) or NTFS (UTF-16) stores them.
    qint64 namesIn(const QString& image) const
    {
        const QByteArray utf8 = namePart.toUtf8();
        QByteArray utf16;
        for (char c : utf8)
            utf16 += QByteArray(1, c) + QByteArray(1, '\0');
        return testsupport::countInFile(image, utf8) + testsupport::countInFile(image, utf16);
    }
};

QString driveMap(const ScratchVolume& v)
{
    return "c=/;t=" + v.folder();
}

// What the table of an NTFS image takes: its $DATA sizes as ntfsinfo tells.
qint64 tableBytes(const QString& image)
{
    QString out;
    if (testsupport::runCommand("ntfsinfo", {"-F", "$MFT", image}, &out) != 0)
        return -1;
    const auto m = QRegularExpression(R"(\$DATA \(0x80\)[\s\S]*?Allocated size:\s*(\d+))").match(out);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace

// btrfs keeps small files and names in its metadata and counts room only
// metadata may use as free; with compress it also shrinks the fill.
struct BtrfsCase {
    const char* name;
    const char* mountOptions;
    bool snapshot;             // a snapshot of the empty volume, taken first
    const char* firstBytes;    // of the first pass's fill file; null: mixed
};

void PrintTo(const BtrfsCase& c, std::ostream* os)
{
    *os << c.name;
}

class BtrfsFreeSpace : public ::testing::TestWithParam<BtrfsCase> {};

TEST_P(BtrfsFreeSpace, LeavesNoDeletedContentOrNameAndCallsTheDriveHealthy)
{
    const BtrfsCase& c = GetParam();
    ScratchVolume volume(ScratchVolume::Kind::Btrfs, 110, {}, QString::fromLatin1(c.mountOptions));
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    testsupport::EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    if (c.snapshot) {
        ASSERT_EQ(testsupport::runCommand("btrfs", {"subvolume", "snapshot", volume.folder(),
                                                    volume.folder() + "/snap1"}), 0);
    }
    DeletedFiles deleted;
    deleted.write(volume.folder(), 8, 60);
    ASSERT_TRUE(volume.unmount());
    ASSERT_GT(deleted.contentIn(volume.image()), 8 * 256);
    ASSERT_GT(deleted.namesIn(volume.image()), 60);
    ASSERT_TRUE(volume.remount()) << volume.skipReason().toStdString();
    for (const QString& f : QDir(volume.folder()).entryList(QDir::Files))
        ASSERT_TRUE(QFile::remove(volume.folder() + '/' + f));

    testsupport::FillHarness fill;
    fill.level = 2;
    QByteArray first;
    fill.clock.onPause = [&] {
        QFile f(volume.folder() + "/tmptxt1.txt");
        if (first.isEmpty() && f.open(QIODevice::ReadOnly))
            first = f.read(10);
    };
    const engine::FillOutcome out = fill.runFill(1);
    EXPECT_TRUE(out.completed) << out.message.toStdString();
    EXPECT_FALSE(out.driveErrors);
    EXPECT_FALSE(out.spaceMissed);
    EXPECT_GT(out.recordFiles, 1000);
    const QString said = fill.prompter.texts.join("|");
    EXPECT_FALSE(said.contains("failing")) << said.toStdString();
    EXPECT_FALSE(said.contains("could not be written")) << said.toStdString();
    EXPECT_TRUE(said.contains("keeps the other")) << said.toStdString();
    EXPECT_EQ(said.contains("holds snapshots: snap1"), c.snapshot) << said.toStdString();
    EXPECT_EQ(said.contains("stores its data compressed"), c.firstBytes == nullptr) << said.toStdString();
    if (c.firstBytes)
        EXPECT_EQ(first, QByteArray(c.firstBytes)); // the described pattern, byte for byte
    else
        EXPECT_NE(first, QByteArray("0000000000"));
    EXPECT_EQ(QDir(volume.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              c.snapshot ? QStringList{"snap1"} : QStringList{});

    ASSERT_TRUE(volume.unmount());
    EXPECT_EQ(deleted.contentIn(volume.image()), 0) << "deleted content left";
    EXPECT_EQ(deleted.namesIn(volume.image()), 0) << "deleted names left";
}

INSTANTIATE_TEST_SUITE_P(FillVolumes, BtrfsFreeSpace,
                         ::testing::Values(BtrfsCase{"Plain", "", true, "0000000000"},
                                           BtrfsCase{"Zstd", "compress=zstd", false, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

// NTFS keeps a small file and its name inside its record: a folder of such
// files, deleted with the folder, is gone after a wipe, and the table that
// holds the records has not grown for it.
TEST(NtfsRecords, DeletedFolderOfSmallFilesLeavesNoTextNoNamesAndTheTableAsLarge)
{
    VOLUME_OR_SKIP(volume, Ntfs, 16);
    testsupport::EnvGuard env("ZARVEX_DRIVES", driveMap(volume));
    DeletedFiles deleted;
    const QString letters = volume.folder() + "/letters";
    ASSERT_TRUE(QDir().mkpath(letters));
    deleted.write(letters, 0, 200, 300);
    ASSERT_TRUE(volume.unmount());
    ASSERT_GE(deleted.contentIn(volume.image()), 200);
    ASSERT_GE(deleted.namesIn(volume.image()), 200);
    const qint64 tableBefore = tableBytes(volume.image());
    if (tableBefore < 0)
        GTEST_SKIP() << "ntfsinfo cannot read the table";
    ASSERT_TRUE(volume.remount()) << volume.skipReason().toStdString();
    ASSERT_TRUE(QDir(letters).removeRecursively());

    testsupport::FillHarness fill;
    fill.level = 2;
    const engine::FillOutcome out = fill.runFill(1);
    EXPECT_TRUE(out.completed) << out.message.toStdString();
    EXPECT_TRUE(fill.prompter.texts.isEmpty()) << fill.prompter.texts.join("|").toStdString();
    EXPECT_GE(out.recordFiles, 200);
    EXPECT_TRUE(QDir(volume.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    ASSERT_TRUE(volume.unmount());
    EXPECT_EQ(deleted.contentIn(volume.image()), 0) << "deleted text left";
    EXPECT_EQ(deleted.namesIn(volume.image()), 0) << "deleted names left";
    EXPECT_LE(tableBytes(volume.image()), tableBefore);
}
