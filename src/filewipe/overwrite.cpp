#include "filewipe/overwrite.h"
#include "engine/filldata.h"
#include "format/elapsed.h"
#include "platform/blocking.h"
#include "platform/overwritefile.h"

#include <QStringList>
#include <algorithm>

namespace filewipe {

namespace {

// Files these endings name get OW_File, whose last pass shows its progress.
const QStringList kDocumentTypes = {"doc", "txt", "dic", "tml", "xml", "dot", "htm", "htw", "inf", "ini",
                                    "log", "pub", "rdf", ".rt", "rtf", "scp", "url", "wab", "web", "wtx",
                                    "fdf", "xlb", "xlc", "xld", "xlk", "xll", "xls", "xlt", "xlv"};

constexpr int kBlockRepeats = 10;
// The time box and progress bar change at most this often.
constexpr qint64 kShowEveryMs = 50;

// What the read-back and the next pass go by, once a pass is written.
void passWritten(OverwriteState& s, const PassWrite& pass)
{
    s.LastBlock = pass.block;
    s.LastPassBytes = pass.bytes;
    s.BytesWritten += pass.bytes;
    // Its length as the pass began, or the pass's if that is longer: the
    // file is looked at once a pass (through ntfs-3g every look is a round
    // trip to it).
    s.FileLength = static_cast<std::int64_t>(std::max(pass.own, pass.bytes));
}

} // namespace

QString wipeTimeText(const OverwriteState& s, const QDateTime& now)
{
    const QString elapsed = format::ElapsedText(s.Started, now);
    if (s.PassesDone > 0 && s.PassesPlanned > 0)
        if (const QString left = format::TimeLeftText(s.Started.msecsTo(now), double(s.PassesDone) / s.PassesPlanned);
            !left.isEmpty())
            return QStringLiteral("%1, %2").arg(elapsed, left);
    return elapsed;
}

namespace {

void overwritePass(OverwriteState& s, std::int16_t WipeLevel, OverwriteView& view, platform::Clock& clock,
                   bool showProgress)
{
    PassWrite pass = beginPass(s, WipeLevel);
    // The time goes on while a flush takes seconds.
    const platform::WhileBlocked ticking([&] { view.setTime(wipeTimeText(s, clock.now())); });
    if (writeOwnLength(s, pass))
        s.File->sync();
    writeWhole(s, pass, view, clock, showProgress);
    s.File->sync();
    endPass(s, clock);
}

} // namespace

platform::StreamMix streamFrom(const std::optional<engine::KeyedMix>& start)
{
    if (!start)
        return {};
    return [m = *start](char* data, std::size_t size) mutable { m.apply(data, size); };
}

std::uint64_t passLength(std::int64_t FileLength)
{
    const std::int64_t blockSize = FileLength >= kLargeFile ? 200 : 100;
    return static_cast<std::uint64_t>((FileLength + blockSize - 1) / blockSize * blockSize);
}

PassWrite beginPass(OverwriteState& s, std::int16_t WipeLevel)
{
    const bool large = s.FileLength >= kLargeFile;
    PassWrite pass;
    pass.block = passPattern(WipeLevel, large).repeated(kBlockRepeats);
    pass.blockSize = large ? 200 : 100;
    s.BlockCount = (s.FileLength + pass.blockSize - 1) / pass.blockSize;
    pass.bytes = pass.block.isEmpty() ? 0 : passLength(s.FileLength);
    // A fresh stream per pass on a compressing volume; kept from its start
    // for the read-back.
    if (s.Mixed)
        pass.stream.emplace();
    s.LastMix = pass.stream;
    return pass;
}

bool writeOwnLength(OverwriteState& s, PassWrite& pass)
{
    const std::uint64_t own = pass.own = s.File->size();
    if (own == 0 || own >= pass.bytes)
        return false;
    s.File->writePattern(pass.block, own, {}, streamFrom(pass.stream));
    s.BytesWritten += own;
    return true;
}

void writeWhole(OverwriteState& s, const PassWrite& pass, OverwriteView& view, platform::Clock& clock,
                bool showProgress)
{
    clock.yield();
    if (showProgress)
        view.setProgress(0, s.BlockCount);
    QDateTime shown = clock.now();
    view.setTime(wipeTimeText(s, shown));
    auto progress = [&](std::uint64_t done) {
        const QDateTime now = clock.now();
        if (shown.msecsTo(now) >= kShowEveryMs || done == pass.bytes) {
            shown = now;
            view.setTime(wipeTimeText(s, now));
            if (showProgress)
                view.setProgress(static_cast<std::int64_t>(done) / pass.blockSize, s.BlockCount);
        }
        clock.yield();
    };
    s.File->writePattern(pass.block, pass.bytes, progress, streamFrom(pass.stream));
    passWritten(s, pass);
}

void writeQuietly(OverwriteState& s, const PassWrite& pass)
{
    s.File->writePattern(pass.block, pass.bytes, {}, streamFrom(pass.stream));
    passWritten(s, pass);
}

void endPass(OverwriteState& s, platform::Clock& clock)
{
    ++s.PassesDone;
    clock.yield();
}

std::int16_t Set_Type(const QString& fileName)
{
    return kDocumentTypes.contains(fileName.right(3).toLower()) ? 1 : 2;
}

QByteArray passPattern(std::int16_t WipeLevel, bool largeFile)
{
    const int length = largeFile ? 20 : 10;
    if (WipeLevel <= 0)
        return {};
    if (WipeLevel == 1)
        return QByteArray(length, '0');
    if (WipeLevel == 2)
        return QByteArray(length, '1');
    QByteArray& unit = engine::fillBuffers().FillUnit;
    unit.clear();
    if (WipeLevel == 3)
        engine::Get_Rand_Alpha();
    else
        engine::Get_Rand_Seq();
    return unit.left(length);
}

void OW_File(OverwriteState& s, std::int16_t WipeLevel, OverwriteView& view, platform::Clock& clock)
{
    overwritePass(s, WipeLevel, view, clock, !s.QuietProgress);
}

void OW_FileB(OverwriteState& s, std::int16_t WipeLevel, OverwriteView& view, platform::Clock& clock)
{
    overwritePass(s, WipeLevel, view, clock, false);
}

void KillIt(const QString& CurrentFile, platform::OverwriteFile& file, platform::Clock& clock)
{
    if (CurrentFile.size() < 3 || (CurrentFile.size() == 3 && CurrentFile[2] == u'\\'))
        return;
    // No waits around it: they let another program of the old system let go
    // of the file; a busy file is retried when it is opened instead.
    file.destroy();
    clock.yield();
}

} // namespace filewipe
