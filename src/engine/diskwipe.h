#pragma once
// The wipe of a whole disk: every sector from the first to the last (the
// partition table, every partition and the gaps between them) written over
// pass by pass, each pass flushed, then read back past the cache and
// compared, in full or by a stated sample. Nothing is written before the
// user agreed to a question that names the disk by model, serial and size,
// and to the unmounting of each mounted partition, named. Procedure only:
// the console (and later the window) implement the view.
#include "platform/prompter.h"
#include "platform/readback.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace engine {

enum class DiskMethod { Zeros, Random, Discard, DeviceErase };
// By the console's name for it ("zero", "random", "discard").
std::optional<DiskMethod> diskMethodNamed(const QString& name);
QStringList diskMethodNames();
// What it does and its NIST SP 800-88 name: "Overwrite with zeros (NIST SP
// 800-88: Clear)".
QString diskMethodTitle(DiskMethod method);
enum class DiskVerify { Full, Sample };

struct DiskWipePlan {
    DiskMethod method = DiskMethod::Random;
    int passes = 1;
    DiskVerify verify = DiskVerify::Full;
    // Afterwards, when the wipe reached its end: a new GPT with one
    // partition of this file system ("ext4", "exfat", "ntfs"; none when
    // empty), labelled.
    QString newFileSystem;
    QString label;
};

class DiskWipeView {
public:
    virtual ~DiskWipeView() = default;
    virtual void setStatus(const QString& text) = 0;
    // Of pass `pass` (from 1) of `passes`: `done` bytes of `total`, at
    // `bytesPerSecond` so far.
    virtual void setProgress(int pass, int passes, std::uint64_t done, std::uint64_t total, double bytesPerSecond) = 0;
    virtual bool stopRequested() const { return false; }
};

// Sectors the device failed to write or read even one by one: passed over,
// and named in the result.
struct BadRange {
    std::uint64_t offset = 0, bytes = 0;
    bool operator==(const BadRange&) const = default;
};

struct DiskWipeResult {
    bool declined = false;      // a question was answered No: nothing was written
    QStringList refusals;       // why the disk may not be wiped: nothing was written
    int passesDone = 0;
    double stoppedAtPercent = -1; // of the pass that was stopped
    platform::Verification verification = platform::Verification::NotRun;
    QString problem;            // what ended it early, or what did not read back
    std::uint64_t bytesVerified = 0;
    std::vector<BadRange> badRanges; // in order, none touching another
    std::uint32_t sectorSize = 512;
    std::uint64_t bytesWritten = 0; // all passes together
    std::optional<bool> discarded;  // the discard method: whether the device took the discard
    QString deviceErase;            // the erase method: the device's command that ran
    QString afterwards;             // what became of the new partition table, when one was asked for
    QString hiddenAreas;            // what the drive hides from the host, or why that was not looked for
    std::uint64_t hiddenSectors = 0; // sectors the drive hides: not reached
    qint64 recordId = 0;            // the wipe record, once written (0: none kept)
    std::uint64_t badSectors() const;
    // Every pass written and read back, except the bad ranges.
    bool reachedEnd() const
    {
        return !declined && refusals.isEmpty() && problem.isEmpty() && stoppedAtPercent < 0 &&
               verification == platform::Verification::Passed;
    }
    // And no bad range, nothing hidden: plain success.
    bool completed() const { return reachedEnd() && badRanges.empty() && hiddenSectors == 0; }
    // "completed", "completed with N unreadable sectors", "completed; N
    // sectors the drive hides were not reached".
    QString outcomeText() const;
    // How it ended, line by line, as the window and the console say it
    // (a question answered No and the record's number are theirs to say).
    QStringList endLines() const;
};

// "pass 1 of 2: 45.0 %, 120.3 MB/s, 0:00:12 left to write": the time left
// counts the rest of this pass and the passes after it.
QString diskProgressText(int pass, int passes, std::uint64_t done, std::uint64_t total, double bytesPerSecond);

// "Unreadable: bytes 1052672 to 1056767 (sectors 2056 to 2063), not written over".
QString badRangeText(const BadRange& bad, std::uint32_t sectorSize);

// A keyed stream that any offset can be found in again: the same pass and
// offset give the same bytes, so a read-back may compare any part of it.
// Each 8-byte word is a keyed mix of its place; the key comes from the
// operating system's random source, one per wipe.
class DiskStream {
public:
    DiskStream();
    // The bytes of pass `pass` from `offset` (a multiple of 8) on.
    void fill(char* out, std::size_t size, int pass, std::uint64_t offset) const;

private:
    std::uint64_t key_ = 0;
};

// The bytes a sampled read-back reads: the first and last 16 MiB and at
// least 1 % of the disk spread evenly between, in chunks of `chunk` bytes
// (offsets of their starts, in order).
std::vector<std::uint64_t> sampleChunks(std::uint64_t diskBytes, std::uint64_t chunk);

// Wipes the disk `device` ("/dev/sdb", or a link to it).
DiskWipeResult wipeDisk(const QString& device, const DiskWipePlan& plan, platform::Prompter& prompter,
                        DiskWipeView& view);

} // namespace engine
