// Reading a wipe's last pass back, on each kind of volume the program
// meets: tmpfs (no direct I/O: flushed and dropped from the cache instead),
// ext4 (direct reads) and NTFS through ntfs-3g. What the writers wrote reads
// back; a byte changed afterwards through another descriptor does not, and
// the failure names the file and the byte.
#include "platform/fillfile.h"
#include "platform/overwritefile.h"
#include "platform/readback.h"
#include "support/volumes.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

using platform::Verification;
using testsupport::ScratchVolume;

class ReadBackOnVolume : public ::testing::TestWithParam<ScratchVolume::Kind> {};

TEST_P(ReadBackOnVolume, WhatWasWrittenReadsBackAndAChangedByteIsCaught)
{
    ScratchVolume volume(GetParam(), 24);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();

    // A fill file as a fill pass writes it: direct, more than one stage of
    // large records, then small ones through the page cache.
    const QString fill = volume.folder() + "/tmptxt1.txt";
    platform::WrittenContent fillContent;
    {
        const QByteArray large = QByteArray(5120, 'K') + "\r\n";
        const QByteArray small = QByteArray(1024, 'z') + "\r\n";
        auto f = platform::FillFile::createExclusive(fill);
        for (int i = 0; i < 2000; ++i)
            f->append(large.constData(), std::size_t(large.size()));
        f->commit();
        f->endDirect();
        for (int i = 0; i < 3; ++i)
            f->append(small.constData(), std::size_t(small.size()));
        f->close();
        fillContent.add(large, 2000);
        fillContent.add(small, 3);
        ASSERT_EQ(f->written(), fillContent.size());
    }
    // A chosen file after its finalizing pass: a pattern block over its
    // length rounded up to whole blocks.
    const QString doc = volume.folder() + "/report.doc";
    const QByteArray block = QByteArray("0123456789abcdefghij").repeated(10);
    const std::uint64_t passBytes = 1'000'200;
    {
        QFile f(doc);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(1'000'123, 'x')) == 1'000'123);
    }
    const platform::WipeFolder folder(volume.folder());
    platform::OverwriteFile o = folder.open("report.doc", {});
    o.writePattern(block, passBytes);
    o.sync();

    const struct {
        QString path;
        std::function<platform::ReadBack()> readBack;
        qint64 changed; // a byte in the direct part, in the buffered tail
    } cases[] = {
        {fill, [&] { return platform::FillFile::readBack(fill, fillContent); }, 9'000'001},
        {fill, [&] { return platform::FillFile::readBack(fill, fillContent); }, qint64(fillContent.size()) - 2},
        {doc, [&] { return o.readBack(block, passBytes); }, 819'205},
        // Small requests: many reads, two in flight at a time.
        {fill, [&] { return platform::readBack(fill, fillContent, 64 * 1024); }, 9'000'001},
        {fill, [&] { return platform::readBack(fill, fillContent, 64 * 1024); }, 65'536},
    };
    for (const auto& c : cases) {
        const platform::ReadBack good = c.readBack();
        EXPECT_EQ(good.result, Verification::Passed) << good.problem.toStdString();
        ASSERT_TRUE(testsupport::changeByte(c.path, c.changed));
        const platform::ReadBack bad = c.readBack();
        EXPECT_EQ(bad.result, Verification::Failed);
        EXPECT_TRUE(bad.problem.startsWith(QFileInfo(c.path).fileName() + QStringLiteral(": byte %1 of").arg(c.changed)))
            << bad.problem.toStdString();
        ASSERT_TRUE(testsupport::changeByte(c.path, c.changed)); // back as it was
    }

    // A file shorter than what was written fails too.
    ASSERT_TRUE(QFile::resize(doc, 4096));
    const platform::ReadBack cut = o.readBack(block, passBytes);
    EXPECT_EQ(cut.result, Verification::Failed);
    EXPECT_TRUE(cut.problem.contains("4096 bytes long, but 1000200 were written")) << cut.problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Volumes, ReadBackOnVolume,
                         ::testing::Values(ScratchVolume::Kind::Tmpfs, ScratchVolume::Kind::Ext4,
                                           ScratchVolume::Kind::Ntfs),
                         [](const auto& info) {
                             using K = ScratchVolume::Kind;
                             return std::string(info.param == K::Tmpfs ? "Tmpfs" : info.param == K::Ext4 ? "Ext4" : "Ntfs");
                         });
