// The free-space wipe on real volumes, proven on the raw image once the
// volume is unmounted: no deleted content and no deleted name is left. NTFS
// (in its file records) and btrfs (in its metadata, plain and compressing)
// keep small files and names where a data fill alone does not reach.
#include "support/fillfakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace testsupport;
using Kind = ScratchVolume::Kind;

namespace {

// What the table of an NTFS image takes: its $DATA sizes as ntfsinfo tells.
qint64 tableBytes(const QString& image)
{
    QString out;
    if (runCommand("ntfsinfo", {"-F", "$MFT", image}, &out) != 0)
        return -1;
    const auto m = QRegularExpression(R"(\$DATA \(0x80\)[\s\S]*?Allocated size:\s*(\d+))").match(out);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

struct ImageCase {
    const char* name;
    Kind kind;
    int mib;
    const char* mountOptions;
    bool snapshot;        // of the empty volume, taken first
    int smallFiles;       // in a folder deleted with them
    int smallBytes;       // 0: 100 to 1,800 bytes
    int recordFiles;      // written into free record space, at least
    bool keepFolder;      // the small files' folder stays (one other file in it): a Complete Wipe
    QStringList says;     // each text the wipe tells contains one, in order
};

void PrintTo(const ImageCase& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace

class DeletedDataOnImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(DeletedDataOnImage, IsGoneAfterTheWipe)
{
    const ImageCase& c = GetParam();
    const bool compressing = *c.mountOptions != '\0';
    ScratchVolume volume(c.kind, c.mib, {}, QString::fromLatin1(c.mountOptions));
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    if (c.snapshot) {
        ASSERT_EQ(runCommand("btrfs", {"subvolume", "snapshot", volume.folder(),
                                                    volume.folder() + "/snap1"}), 0);
    }
    // Files too large for a record lie in clusters: the marker repeated (32
    // bytes: whole in every block) or, where the volume compresses, opening
    // each block of random data.
    const QByteArray marker = randomPattern(32), needle = marker.left(16);
    const QByteArray name = "qzdeleted" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
    qint64 markers = 0;
    const QList<qsizetype> sizes = compressing ? QList<qsizetype>(8, 1 << 20)
                                               : QList<qsizetype>{4096, 8192, 12'288 + 700, 65'536, 1 << 20};
    for (int i = 0; i < sizes.size(); ++i) {
        QByteArray blob = repeated(marker, sizes[i]);
        if (compressing) {
            for (qsizetype at = 0; at < blob.size(); ++at)
                if (at % 4096 >= marker.size())
                    blob[at] = static_cast<char>(QRandomGenerator::global()->generate());
        }
        ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/large%1.bin").arg(i), blob));
        markers += compressing ? sizes[i] / 4096 : sizes[i] / marker.size();
    }
    const QString folder = volume.folder() + "/letters";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(!c.keepFolder || writeFile(folder + "/kept.txt", "kept"));
    for (int i = 0; i < c.smallFiles; ++i)
        ASSERT_TRUE(writeFile(folder + QStringLiteral("/%1_%2.txt").arg(QString::fromLatin1(name)).arg(i),
                              repeated(marker, c.smallBytes ? c.smallBytes
                                                                         : 100 + i * 1700 / c.smallFiles)));
    // With a folder kept, the root keeps blocks of its index: names deleted
    // from the root lie in them.
    for (int i = 0; c.keepFolder && i < 300; ++i)
        ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/%1_root%2.txt").arg(QString::fromLatin1(name)).arg(i),
                              QByteArray(40 + i, 'r')));
    // Names as btrfs (bytes) or NTFS (UTF-16) stores them.
    QByteArray utf16;
    for (char ch : name)
        utf16 += QByteArray(1, ch) + QByteArray(1, '\0');
    auto namesIn = [&] {
        return countInFile(volume.image(), name) + countInFile(volume.image(), utf16);
    };

    // The markers must be on the image before the wipe, or their absence
    // after it proves nothing.
    ASSERT_TRUE(volume.unmount());
    ASSERT_GE(countInFile(volume.image(), needle), markers);
    ASSERT_GE(namesIn(), c.smallFiles);
    const qint64 tableBefore = c.kind == Kind::Ntfs ? tableBytes(volume.image()) : 0;
    if (tableBefore < 0)
        GTEST_SKIP() << "ntfsinfo cannot read the table";
    ASSERT_TRUE(volume.remount()) << volume.skipReason().toStdString();
    const QStringList kept{"lost+found", "snap1", c.keepFolder ? "letters" : ""};
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files))
        ASSERT_TRUE(!c.keepFolder || f.fileName() == "kept.txt" || QFile::remove(f.filePath()));
    for (const QFileInfo& f : QDir(volume.folder()).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        ASSERT_TRUE(kept.contains(f.fileName()) || (f.isDir() ? QDir(f.filePath()).removeRecursively()
                                                              : QFile::remove(f.filePath())));
    const QStringList left = QDir(volume.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    FillHarness fill;
    // A kept folder's names: a Short Wipe asked for every folder.
    fill.level = 2;
    fill.everyFolder = c.keepFolder;
    QByteArray first;
    std::uint64_t freeLeft = 0;
    fill.clock.onPause = [&] {
        QFile f(volume.folder() + "/tmptxt1.txt");
        if (!f.open(QIODevice::ReadOnly))
            return;
        if (first.isEmpty())
            first = f.read(10);
        freeLeft = std::max(freeLeft, fill.drives.freeBytes("t:\\"));
    };
    const engine::FillOutcome out = fill.runFill(1);
    EXPECT_TRUE(out.completed) << out.message.toStdString();
    // Nothing said failing or missed: only what is expected is said.
    EXPECT_GE(out.recordFiles, c.recordFiles);
    const QStringList& said = fill.prompter.texts;
    EXPECT_EQ(said.size(), c.says.size()) << said.join("|").toStdString();
    for (int i = 0; i < std::min(said.size(), c.says.size()); ++i)
        EXPECT_TRUE(said[i].contains(c.says[i])) << said[i].toStdString();
    // The first pass's pattern byte for byte, unless mixed with random data.
    EXPECT_EQ(first == "0000000000", !compressing) << first.toStdString();
    // btrfs keeps room only its metadata may take.
    EXPECT_TRUE(c.kind == Kind::Btrfs || freeLeft < 4000) << freeLeft << " bytes free while the fill file was full";
    EXPECT_EQ(QDir(volume.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), left);

    ASSERT_TRUE(volume.unmount());
    EXPECT_EQ(countInFile(volume.image(), needle), 0) << "deleted content left";
    EXPECT_EQ(namesIn(), 0) << "deleted names left";
    // The loop device passes the trim on: the image has holes where the fill was.
    EXPECT_TRUE(!c.says.contains("was also trimmed") ||
                allocatedBytes(volume.image()) < QFileInfo(volume.image()).size() / 2);
    // The table that holds the records has not grown for them.
    EXPECT_TRUE(c.kind != Kind::Ntfs || tableBytes(volume.image()) <= tableBefore);
}

INSTANTIATE_TEST_SUITE_P(
    FillVolumes, DeletedDataOnImage,
    ::testing::Values(ImageCase{"Ext4", Kind::Ext4, 24, "", false, 0, 0, 0, false,
                                {"was also trimmed", "journal of Drive T: (ext4) was written over"}},
                      ImageCase{"Ntfs", Kind::Ntfs, 24, "", false, 200, 300, 200, false, {}},
                      ImageCase{"NtfsFolderKept", Kind::Ntfs, 24, "", false, 200, 300, 200, true, {}},
                      ImageCase{"BtrfsPlain", Kind::Btrfs, 110, "", true, 60, 0, 1000, false,
                                {"holds snapshots: snap1", "keeps the other", "was also trimmed"}},
                      ImageCase{"BtrfsZstd", Kind::Btrfs, 110, "compress=zstd", false, 60, 0, 1000, false,
                                {"stores its data compressed", "keeps the other", "was also trimmed"}}),
    [](const auto& info) { return std::string(info.param.name); });
