#pragma once
// The per-file routines of the folder and file wipe: which routine a file
// gets (`Set_Type`), one overwrite pass (`OW_File`, `OW_FileB`) and the end
// of a file (`KillIt`).
//
// Every pass writes the pass's pattern over the whole file, from its first
// byte to its length rounded up to whole blocks (a block is the pattern ten
// times: 100 bytes for a small file, 200 for a large one), and reaches the
// disk before the next pass begins. A file shorter than the pass is first
// overwritten at its own length and flushed, so that data a file system keeps
// inside its own records for small files (NTFS) is overwritten where it lies
// before the file grows out of it. The two routines write the same bytes;
// only `OW_File` drives the progress bar.
#include "engine/mixedfill.h"
#include "platform/clock.h"
#include "platform/overwritefile.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace filewipe {

// What a pass shows: the time the file's wipe has run (and has left) and, for
// `OW_File`, its progress.
class OverwriteView {
public:
    virtual ~OverwriteView() = default;
    virtual void setTime(const QString& text) = 0;
    virtual void setProgress(std::int64_t value, std::int64_t maximum) = 0;
};

// The window fields the routines read and write.
struct OverwriteState {
    QString CurrentFile;             // native path of the file being wiped, for messages
    platform::OverwriteFile* File = nullptr; // the file itself, opened once for all its passes
    std::int64_t FileLength = 0;     // sizes the pass; the length on disk after it
    std::int64_t BlockCount = 0;     // blocks of the last pass
    std::int16_t RoutineChoice = 2;  // 1 OW_File, 2 OW_FileB
    bool QuietProgress = false;      // OW_File leaves the progress bar alone
    // The volume compresses the file: each pass's pattern is mixed with a
    // keyed stream, so that it takes the file's whole length on the disk.
    bool Mixed = false;
    std::optional<engine::KeyedMix> LastMix{}; // the last pass's stream, from its start
    // What the last pass wrote, so that it can be read back: the pattern
    // block repeated over its first bytes.
    QByteArray LastBlock{};
    std::uint64_t LastPassBytes = 0;
    std::uint64_t BytesWritten = 0;  // by every pass so far
    // For the time box: when the file's first pass began, and its passes.
    QDateTime Started{};
    int PassesPlanned = 0;
    int PassesDone = 0;
};

inline constexpr std::int64_t kLargeFile = 1'000'000;

// A pass's stream as the writer and the read-back use it: a fresh copy from
// its start (nothing when the pass was not mixed).
platform::StreamMix streamFrom(const std::optional<engine::KeyedMix>& start);

// Bytes a pass over a file of `FileLength` writes: whole blocks.
std::uint64_t passLength(std::int64_t FileLength);

// The time box: how long the file's wipe has run, and once a pass has
// ended, about how long it has left.
QString wipeTimeText(const OverwriteState& s, const QDateTime& now);

// 1 when the name's last three characters (lower case) are a document type,
// else 2.
std::int16_t Set_Type(const QString& fileName);

// The pass's pattern: 10 characters for a small file, 20 for a large one.
// Passes 1 and 2 write the digit characters 0 and 1, pass 3 one repeated
// letter, later passes a new random run; 0 or below, nothing.
QByteArray passPattern(std::int16_t WipeLevel, bool largeFile);

// One pass in the steps a batch of files takes together, each step's
// writes flushed before the next step begins: `beginPass` chooses the
// pattern; `writeOwnLength` overwrites a file shorter than the pass at its
// own length (true when it did: a flush must follow before it grows);
// `writeWhole` writes the whole pass (`writeQuietly` too, showing nothing,
// and calling nothing of the window: a batch's writes run off the UI
// thread as one call); after its flush, `endPass` counts it. `OW_File` and
// `OW_FileB` are these steps for one file.
struct PassWrite {
    QByteArray block;                        // the pattern, ten times
    std::int64_t blockSize = 100;
    std::uint64_t bytes = 0;                 // what the pass writes
    std::uint64_t own = 0;                   // the file's length as it began
    std::optional<engine::KeyedMix> stream{}; // mixed in on a compressing volume
};
PassWrite beginPass(OverwriteState& s, std::int16_t WipeLevel);
bool writeOwnLength(OverwriteState& s, PassWrite& pass);
void writeWhole(OverwriteState& s, const PassWrite& pass, OverwriteView& view, platform::Clock& clock,
                bool showProgress);
void writeQuietly(OverwriteState& s, const PassWrite& pass);
void endPass(OverwriteState& s, platform::Clock& clock);

void OW_File(OverwriteState& s, std::int16_t WipeLevel, OverwriteView& view, platform::Clock& clock);
void OW_FileB(OverwriteState& s, std::int16_t WipeLevel, OverwriteView& view, platform::Clock& clock);

// Empties the file, overwrites its name and deletes it; a bare drive root
// ("c:\", "c:") is left alone.
void KillIt(const QString& CurrentFile, platform::OverwriteFile& file, platform::Clock& clock);

} // namespace filewipe
