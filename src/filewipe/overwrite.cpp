#include "filewipe/overwrite.h"
#include "engine/filldata.h"
#include "format/elapsed.h"
#include "platform/blocking.h"
#include "platform/overwritefile.h"

#include <QStringList>

namespace filewipe {

namespace {

// Files these endings name get OW_File, whose last pass shows its progress.
const QStringList kDocumentTypes = {"doc", "txt", "dic", "tml", "xml", "dot", "htm", "htw", "inf", "ini",
                                    "log", "pub", "rdf", ".rt", "rtf", "scp", "url", "wab", "web", "wtx",
                                    "fdf", "xlb", "xlc", "xld", "xlk", "xll", "xls", "xlt", "xlv"};

constexpr int kBlockRepeats = 10;
// The time box and progress bar change at most this often.
constexpr qint64 kShowEveryMs = 50;

// The time box: how long the file's wipe has run, and once a pass has
// ended, about how long it has left.
QString timeText(const OverwriteState& s, const QDateTime& now)
{
    const QString elapsed = format::ElapsedText(s.Started, now);
    if (s.PassesDone > 0 && s.PassesPlanned > 0)
        if (const QString left = format::TimeLeftText(s.Started.msecsTo(now), double(s.PassesDone) / s.PassesPlanned);
            !left.isEmpty())
            return QStringLiteral("%1, %2").arg(elapsed, left);
    return elapsed;
}

void overwritePass(OverwriteState& s, std::int16_t WipeLevel, OverwriteView& view, platform::Clock& clock,
                   bool showProgress)
{
    const bool large = s.FileLength >= kLargeFile;
    clock.yield();
    const QByteArray block = passPattern(WipeLevel, large).repeated(kBlockRepeats);
    const std::int64_t blockSize = large ? 200 : 100;
    s.BlockCount = (s.FileLength + blockSize - 1) / blockSize;
    if (showProgress)
        view.setProgress(0, s.BlockCount);
    const std::uint64_t passBytes = block.isEmpty() ? 0 : passLength(s.FileLength);

    QDateTime shown = clock.now();
    view.setTime(timeText(s, shown));
    auto progress = [&](std::uint64_t done) {
        const QDateTime now = clock.now();
        if (shown.msecsTo(now) >= kShowEveryMs || done == passBytes) {
            shown = now;
            view.setTime(timeText(s, now));
            if (showProgress)
                view.setProgress(static_cast<std::int64_t>(done) / blockSize, s.BlockCount);
        }
        clock.yield();
    };

    // The time goes on while a flush takes seconds.
    const platform::WhileBlocked ticking([&] { view.setTime(timeText(s, clock.now())); });
    platform::OverwriteFile& file = *s.File;
    // A fresh stream per pass on a compressing volume; kept from its start
    // for the read-back.
    std::optional<engine::KeyedMix> stream;
    if (s.Mixed)
        stream.emplace();
    s.LastMix = stream;
    const std::uint64_t own = file.size();
    if (own > 0 && own < passBytes) {
        file.writePattern(block, own, {}, streamFrom(stream));
        file.sync();
    }
    file.writePattern(block, passBytes, progress, streamFrom(stream));
    s.LastBlock = block;
    s.LastPassBytes = passBytes;
    s.BytesWritten += passBytes + (own > 0 && own < passBytes ? own : 0);
    s.FileLength = static_cast<std::int64_t>(file.size());
    file.sync();
    ++s.PassesDone;
    clock.yield();
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
