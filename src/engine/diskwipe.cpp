#include "engine/diskwipe.h"
#include "platform/deviceerase.h"
#include "platform/directio.h"
#include "platform/disks.h"
#include "platform/errors.h"
#include "platform/hiddenareas.h"
#include "platform/mounts.h"
#include "platform/newtable.h"
#include "platform/wholedisk.h"
#include "records/recorder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>

namespace engine {

namespace {

// Large requests: a device writes and reads them fastest (dd: 64 MiB
// requests read a quarter faster than 8 MiB ones), memory stays at two.
constexpr std::size_t kChunk = 8u << 20;
constexpr std::uint64_t kSampleEnds = 16u << 20;
constexpr qint64 kShowEveryMs = 500;
// A disk failing in more places than this is failing as a whole: the wipe
// ends there instead of taking days to pass over it sector by sector.
constexpr std::size_t kMaxBadRanges = 4096;

std::uint64_t mixWord(std::uint64_t x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// Each method by its console name, what a pass writes, what it does and its
// name in the media-sanitization guideline (NIST SP 800-88): whatever makes
// every sector the host can address read as something else is a Clear.
struct MethodName {
    DiskMethod method;
    const char* name;
    const char* writes;
    const char* does;
    const char* guideline;
};
constexpr MethodName kMethodNames[] = {
    {DiskMethod::Random, "random", "random data", "Overwrite with random data", "Clear"},
    {DiskMethod::Zeros, "zero", "zeros", "Overwrite with zeros", "Clear"},
    {DiskMethod::Discard, "discard", "a discard of every sector, then zeros the device writes itself",
     "Discard, then zero-out (for thin and virtual devices)", "Clear"},
    {DiskMethod::DeviceErase, "erase", "the device's own erase", "The device's own erase (NVMe Sanitize or Format, ATA Security Erase, SCSI Sanitize or a secure discard)",
     "Purge or Clear"},
};

const MethodName& methodRow(DiskMethod method)
{
    for (const MethodName& m : kMethodNames)
        if (m.method == method)
            return m;
    return kMethodNames[0];
}

} // namespace

QString diskMethodTitle(DiskMethod method)
{
    const MethodName& m = methodRow(method);
    return QStringLiteral("%1 (NIST SP 800-88: %2)").arg(QLatin1String(m.does), QLatin1String(m.guideline));
}

namespace {

QString methodText(const DiskWipePlan& plan)
{
    const QString passes = plan.passes == 1 ? QStringLiteral("1 pass") : QStringLiteral("%1 passes").arg(plan.passes);
    return QStringLiteral("%1 of %2").arg(passes, QLatin1String(methodRow(plan.method).writes));
}

// "by its own NVMe Sanitize (block erase), the strongest of the erases it
// offers that can be read back (...)".
QString eraseText(const platform::EraseFacts& facts)
{
    QStringList offered;
    for (const platform::DeviceErase e : facts.offered)
        offered << platform::eraseName(e);
    return QStringLiteral("by its own %1, the strongest of the erases it offers that can be read back (%2)")
        .arg(platform::eraseName(*facts.chosen), offered.join(QStringLiteral(", ")));
}

QString diskFacts(const platform::Disk& d)
{
    QStringList facts{d.transport, platform::diskSizeText(d.bytes)};
    facts << (d.model.isEmpty() ? QStringLiteral("no model given") : QStringLiteral("model %1").arg(d.model));
    facts << (d.serial.isEmpty() ? QStringLiteral("no serial number given") : QStringLiteral("serial %1").arg(d.serial));
    return facts.join(QStringLiteral(", "));
}

class Run {
public:
    Run(const DiskWipePlan& plan, platform::Prompter& prompter, DiskWipeView& view)
        : plan_(plan), prompter_(prompter), view_(view)
    {
    }
    DiskWipeResult go(const QString& device);

private:
    std::optional<platform::Disk> find(const QString& device);
    bool unmountAll(const platform::Disk& disk);
    bool agreed(const platform::Disk& disk);
    void expected(char* out, std::size_t size, int pass, std::uint64_t offset) const;
    void wipe(const platform::Disk& disk);
    void endRecord(records::Recorder& record);
    bool writePass(platform::WholeDisk& disk, int pass);
    bool discardPass(platform::WholeDisk& disk, int pass);
    void erasePass(platform::WholeDisk& disk);
    std::optional<platform::NewTable> newTable(platform::WholeDisk& disk);
    void makeFileSystem(const platform::NewTable& table);
    bool eraseOffered(const platform::Disk& disk);
    void verify(platform::WholeDisk& disk);
    using Transfer = std::function<void(std::uint64_t offset, std::size_t size)>;
    bool overEverySector(platform::WholeDisk& disk, int pass, std::uint64_t step, const Transfer& prepare,
                         const Transfer& move);
    void surviving(const Transfer& move, std::uint64_t offset, std::size_t size, std::uint32_t sector);
    void addBad(std::uint64_t offset, std::uint64_t bytes);

    const DiskWipePlan& plan_;
    platform::Prompter& prompter_;
    DiskWipeView& view_;
    DiskStream stream_;
    DiskWipeResult r_;
    platform::EraseFacts erase_; // the erase method: what the device offers
};

DiskWipeResult Run::go(const QString& device)
{
    const std::optional<platform::Disk> disk = find(device);
    if (!disk)
        return r_;
    r_.refusals = platform::refusalsOf(*disk);
    if (!r_.refusals.isEmpty()) {
        prompter_.message(QStringLiteral("%1 may not be wiped:\r\n%2").arg(disk->device, r_.refusals.join(QStringLiteral("\r\n"))));
        return r_;
    }
    if (plan_.method == DiskMethod::DeviceErase && !eraseOffered(*disk))
        return r_;
    const platform::HiddenAreas hidden = platform::hiddenAreasOf(*disk);
    r_.hiddenAreas = platform::hiddenAreasText(hidden);
    r_.hiddenSectors = hidden.hiddenSectors();
    if (!unmountAll(*disk) || !agreed(*disk))
        return r_;
    wipe(*disk);
    return r_;
}

// The passes and the read-back, recorded from the moment the disk is
// opened for writing.
void Run::wipe(const platform::Disk& disk)
{
    records::DriveFacts facts;
    facts.device = disk.device;
    facts.sizeBytes = disk.bytes;
    facts.label = disk.model;
    facts.uuid = disk.serial;
    facts.fileSystem = disk.transport;
    const QString method = plan_.method == DiskMethod::DeviceErase
                               ? QStringLiteral("%1 (NIST SP 800-88: %2)")
                                     .arg(platform::eraseName(*erase_.chosen), platform::eraseGuideline(*erase_.chosen))
                               : diskMethodTitle(plan_.method);
    records::Recorder record(records::newRecord(records::ProcessKind::WholeDisk, method, plan_.passes, facts), prompter_);
    std::optional<platform::NewTable> table;
    try {
        platform::WholeDisk whole(disk.device, disk);
        r_.sectorSize = whole.sectorSize();
        for (int pass = 1; pass <= plan_.passes; ++pass) {
            const bool ended = writePass(whole, pass);
            record.record().bytesWritten = r_.bytesWritten;
            if (!ended)
                break;
            record.record().passesDone = ++r_.passesDone;
            record.save();
        }
        if (r_.stoppedAtPercent < 0)
            verify(whole);
        if (r_.reachedEnd() && !plan_.newFileSystem.isEmpty())
            table = newTable(whole);
    } catch (const platform::RunTimeError& e) {
        r_.problem = e.number() == platform::ErrRefused ? e.detail() : e.description();
        record.setError(e.number(), r_.problem);
    } catch (const std::bad_alloc&) {
        r_.problem = QStringLiteral("no memory for the write buffers");
        record.setError(platform::ErrOutOfMemory, r_.problem);
    }
    if (table)
        makeFileSystem(*table);
    endRecord(record);
}

// The new table, written once the wipe reached its end: a failure to write
// it is said, and leaves the wipe as it ended.
std::optional<platform::NewTable> Run::newTable(platform::WholeDisk& disk)
{
    try {
        return platform::writeNewTable(disk, plan_.newFileSystem, plan_.label);
    } catch (const platform::RunTimeError& e) {
        r_.afterwards = QStringLiteral("The new partition table could not be written: %1").arg(e.description());
        return std::nullopt;
    }
}

// The new partition's file system, once the disk is closed (its exclusive
// hold would refuse mkfs); what became of it is said either way.
void Run::makeFileSystem(const platform::NewTable& table)
{
    const QString what = QStringLiteral("a new GPT with one partition (sectors %1 to %2) for %3 \"%4\"")
                             .arg(table.firstSector)
                             .arg(table.lastSector)
                             .arg(plan_.newFileSystem, plan_.label);
    if (table.partition.isEmpty()) {
        r_.afterwards = QStringLiteral("Written: %1; the kernel shows no partition for it (it reads no partition "
                                       "tables here), so the file system was not made.")
                            .arg(what);
        return;
    }
    view_.setStatus(QStringLiteral("Making %1 on %2").arg(plan_.newFileSystem, table.partition));
    try {
        platform::makeFileSystem(table.partition, plan_.newFileSystem, plan_.label);
        r_.afterwards = QStringLiteral("Written: %1, made on %2.").arg(what, table.partition);
    } catch (const platform::RunTimeError& e) {
        r_.afterwards = QStringLiteral("Written: %1; the file system could not be made: %2").arg(what, e.detail());
    }
}

// How it ended, what was read back, every bad range, and what was not
// looked at.
void Run::endRecord(records::Recorder& record)
{
    record.record().bytesWritten = r_.bytesWritten;
    if (r_.verification != platform::Verification::NotRun)
        record.setVerification(r_.verification,
                               r_.verification == platform::Verification::Failed ? r_.problem
                               : plan_.verify == DiskVerify::Full
                                   ? QStringLiteral("read back in full: %1 bytes").arg(r_.bytesVerified)
                                   : QStringLiteral("read back by sample (the first and last 16 MiB and 1 % between): "
                                                    "%1 bytes")
                                         .arg(r_.bytesVerified));
    for (const BadRange& bad : r_.badRanges)
        record.addNote(badRangeText(bad, r_.sectorSize));
    if (!r_.afterwards.isEmpty())
        record.addNote(r_.afterwards);
    if (!r_.deviceErase.isEmpty())
        record.addNote(QStringLiteral("The device ran %1, then read back as erased blocks read (0x%2).")
                           .arg(r_.deviceErase)
                           .arg(erase_.erasedReads, 2, 16, QChar(u'0')));
    if (r_.discarded)
        record.addNote(*r_.discarded ? QStringLiteral("The device took the discard of every sector.")
                                     : QStringLiteral("The device takes no discard: its sectors were only zeroed."));
    record.addNote(r_.hiddenAreas);
    if (r_.stoppedAtPercent >= 0) {
        record.addNote(QStringLiteral("Stopped at %1 % of pass %2.").arg(r_.stoppedAtPercent, 0, 'f', 1).arg(r_.passesDone + 1));
        record.complete(records::Outcome::Stopped);
    } else if (r_.reachedEnd()) {
        if (!r_.completed())
            record.addNote(QStringLiteral("The wipe %1.").arg(r_.outcomeText()));
        record.complete(r_.completed() ? records::Outcome::Completed : records::Outcome::Incomplete);
    } else {
        record.complete(r_.verification == platform::Verification::Failed ? records::Outcome::Incomplete
                                                                          : records::Outcome::Stopped);
    }
    r_.recordId = record.record().id;
}

// The listed disk the name leads to (a link such as /dev/disk/by-id/...
// is followed once, here).
std::optional<platform::Disk> Run::find(const QString& device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    for (const platform::Disk& d : platform::listDisks())
        if (d.device == canonical)
            return d;
    r_.problem = QStringLiteral("%1 is no whole disk (zarvexwipe disks lists them)").arg(device);
    return std::nullopt;
}

// Every mount of the disk and its partitions, each named and agreed to.
bool Run::unmountAll(const platform::Disk& disk)
{
    QList<std::pair<QString, QString>> mounted; // device, mount point
    for (const QString& point : disk.mountPoints)
        mounted << std::pair{disk.device, point};
    for (const platform::DiskPart& part : disk.parts)
        for (const QString& point : part.mountPoints)
            mounted << std::pair{part.device, point};
    // The deepest first: a mount inside another goes before it.
    std::sort(mounted.begin(), mounted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    for (const auto& [device, point] : mounted) {
        if (!prompter_.askYesNo(QStringLiteral("Unmount %1, mounted at %2, so that the disk can be wiped?").arg(device, point))) {
            r_.declined = true;
            return false;
        }
        QString reason;
        if (platform::unmountFolder(point, &reason) != platform::UnmountResult::Done) {
            r_.problem = QStringLiteral("%1 could not be unmounted from %2: %3").arg(device, point, reason);
            return false;
        }
    }
    return true;
}

bool Run::agreed(const platform::Disk& disk)
{
    const QString question =
        QStringLiteral("Wipe the whole disk %1 (%2): every sector from the first to the last, %3, then read back %4? "
                       "Everything on it is lost: its partition table, its partitions and what lies between them.%5")
            .arg(disk.device, diskFacts(disk), plan_.method == DiskMethod::DeviceErase ? eraseText(erase_) : methodText(plan_),
                 plan_.verify == DiskVerify::Full ? QStringLiteral("in full")
                                                  : QStringLiteral("in part (the first and last 16 MiB and 1 % between)"),
                 (r_.hiddenSectors > 0 ? u' ' + r_.hiddenAreas : QString()) +
                 (plan_.newFileSystem.isEmpty()
                     ? QString()
                     : QStringLiteral(" Afterwards a new GPT with one %1 partition named \"%2\" is made.")
                           .arg(plan_.newFileSystem, plan_.label)));
    if (prompter_.confirm(question))
        return true;
    r_.declined = true;
    return false;
}

void Run::expected(char* out, std::size_t size, int pass, std::uint64_t offset) const
{
    if (plan_.method == DiskMethod::DeviceErase)
        std::memset(out, erase_.erasedReads, size);
    else if (plan_.method != DiskMethod::Random)
        std::memset(out, 0, size);
    else
        stream_.fill(out, size, pass, offset);
}

// One pass over every sector, then flushed; false when it was stopped.
bool Run::writePass(platform::WholeDisk& disk, int pass)
{
    if (plan_.method == DiskMethod::Discard)
        return discardPass(disk, pass);
    if (plan_.method == DiskMethod::DeviceErase) {
        erasePass(disk);
        return true;
    }
    view_.setStatus(QStringLiteral("Writing pass %1 of %2 over %3").arg(pass).arg(plan_.passes).arg(disk.device()));
    const platform::AlignedBuffer buffer = platform::alignedBuffer(kChunk);
    if (!buffer)
        throw std::bad_alloc();
    std::uint64_t start = 0; // of the piece in the buffer
    if (!overEverySector(
            disk, pass, kChunk,
            [&](std::uint64_t at, std::size_t size) {
                start = at;
                expected(buffer.get(), size, pass, at);
            },
            [&](std::uint64_t at, std::size_t size) { disk.write(buffer.get() + (at - start), size, at); }))
        return false;
    view_.setStatus(QStringLiteral("Flushing pass %1 to the disk").arg(pass));
    disk.flush();
    return true;
}

// The discard method's pass: the device told that every sector holds
// nothing, then made to write zeros over each itself (a device that takes
// no discard is only zeroed, and said to be).
bool Run::discardPass(platform::WholeDisk& disk, int pass)
{
    constexpr std::uint64_t kStep = 64u << 20; // a step of progress, and a moment to stop
    const std::uint64_t total = disk.bytes();
    view_.setStatus(QStringLiteral("Discarding every sector of %1").arg(disk.device()));
    bool took = true;
    for (std::uint64_t done = 0; took && done < total; done += kStep)
        took = disk.discard(done, std::min(kStep, total - done));
    r_.discarded = took && r_.discarded.value_or(true);
    view_.setStatus(QStringLiteral("Zeroing pass %1 of %2 over %3").arg(pass).arg(plan_.passes).arg(disk.device()));
    if (!overEverySector(disk, pass, kStep, {}, [&](std::uint64_t at, std::size_t size) { disk.zeroOut(at, size); }))
        return false;
    disk.flush();
    return true;
}

// Every sector from the first, piece by piece: `prepare` readies a piece,
// `move` takes bytes of it to the disk (in smaller parts again where the
// device fails them). Stopped between pieces when asked (false), and the
// progress shown every half second and at the end.
bool Run::overEverySector(platform::WholeDisk& disk, int pass, std::uint64_t step, const Transfer& prepare,
                          const Transfer& move)
{
    QElapsedTimer timer;
    timer.start();
    qint64 shown = -kShowEveryMs;
    const std::uint64_t total = disk.bytes();
    for (std::uint64_t done = 0; done < total;) {
        if (view_.stopRequested()) {
            r_.stoppedAtPercent = 100.0 * double(done) / double(total);
            return false;
        }
        const auto piece = static_cast<std::size_t>(std::min(step, total - done));
        if (prepare)
            prepare(done, piece);
        surviving(move, done, piece, disk.sectorSize());
        done += piece;
        r_.bytesWritten += piece;
        if (timer.elapsed() - shown >= kShowEveryMs || done == total) {
            shown = timer.elapsed();
            view_.setProgress(pass, plan_.passes, done, total, double(done) * 1000.0 / double(std::max<qint64>(shown, 1)));
        }
    }
    return true;
}

// The erase method: the strongest erase the device offers, and what it
// reaches beyond the chosen disk, said before the question; a device that
// offers none, or whose erase would reach another namespace, is refused.
bool Run::eraseOffered(const platform::Disk& disk)
{
    erase_ = platform::eraseFactsOf(disk);
    if (erase_.offered.isEmpty())
        r_.refusals << QStringLiteral("it offers no erase of its own: %1").arg(erase_.none.join(QStringLiteral("; ")));
    else if (!erase_.alsoReached.isEmpty())
        r_.refusals << QStringLiteral("its own erase would also erase %1 of the same drive").arg(erase_.alsoReached.join(QStringLiteral(", ")));
    else if (!erase_.chosen)
        r_.refusals << QStringLiteral("it does not say what its erased blocks read as, so no erase it offers could be read back");
    if (r_.refusals.isEmpty())
        return true;
    prompter_.message(QStringLiteral("%1 may not be wiped with its own erase:\r\n%2").arg(disk.device, r_.refusals.join(QStringLiteral("\r\n"))));
    return false;
}

// The device erases itself; it cannot be stopped once begun.
void Run::erasePass(platform::WholeDisk& disk)
{
    const platform::DeviceErase erase = *erase_.chosen;
    r_.deviceErase = platform::eraseName(erase);
    view_.setStatus(QStringLiteral("%1 erases itself: %2 (this cannot be stopped)").arg(disk.device(), r_.deviceErase));
    QElapsedTimer timer;
    timer.start();
    platform::runDeviceErase(disk, erase, [&](double part) {
        const auto done = static_cast<std::uint64_t>(part * double(disk.bytes()));
        view_.setProgress(1, 1, done, disk.bytes(), double(done) * 1000.0 / double(std::max<qint64>(timer.elapsed(), 1)));
    });
}

// The last pass read back past the cache and compared: all of it, or the
// sample.
void Run::verify(platform::WholeDisk& disk)
{
    view_.setStatus(QStringLiteral("Reading %1 back").arg(disk.device()));
    const std::uint64_t total = disk.bytes();
    std::vector<std::uint64_t> chunks;
    if (plan_.verify == DiskVerify::Full)
        for (std::uint64_t at = 0; at < total; at += kChunk)
            chunks.push_back(at);
    else
        chunks = sampleChunks(total, kChunk);
    const platform::AlignedBuffer read = platform::alignedBuffer(kChunk), want = platform::alignedBuffer(kChunk);
    if (!read || !want)
        throw std::bad_alloc();
    for (const std::uint64_t at : chunks) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, total - at));
        surviving([&](std::uint64_t from, std::size_t size) { disk.read(read.get() + (from - at), size, from); }, at,
                  piece, disk.sectorSize());
        expected(want.get(), piece, plan_.passes, at);
        // What could not be written or read is named as bad, not compared.
        std::uint64_t unread = 0;
        for (const BadRange& bad : r_.badRanges) {
            const std::uint64_t from = std::max(bad.offset, at), to = std::min(bad.offset + bad.bytes, at + piece);
            if (from < to) {
                std::memcpy(read.get() + (from - at), want.get() + (from - at), to - from);
                unread += to - from;
            }
        }
        if (std::memcmp(read.get(), want.get(), piece) != 0) {
            std::size_t i = 0;
            while (read.get()[i] == want.get()[i])
                ++i;
            r_.verification = platform::Verification::Failed;
            r_.problem = QStringLiteral("byte %1 of %2 did not read back as the last pass wrote it").arg(at + i).arg(disk.device());
            return;
        }
        r_.bytesVerified += piece - unread;
    }
    r_.verification = platform::Verification::Passed;
}

// Moves a piece; where the device fails it, the piece is tried again in
// halves down to the single sector, and a sector that still fails is kept as
// bad and passed over.
void Run::surviving(const Transfer& move, std::uint64_t offset, std::size_t size, std::uint32_t sector)
{
    try {
        move(offset, size);
        return;
    } catch (const platform::RunTimeError& e) {
        if (e.number() != platform::ErrDeviceIO)
            throw;
        if (size <= sector) {
            addBad(offset, size);
            return;
        }
    }
    const std::size_t half = std::max<std::size_t>(sector, size / 2 / sector * sector);
    surviving(move, offset, half, sector);
    surviving(move, offset + half, size - half, sector);
}

void Run::addBad(std::uint64_t offset, std::uint64_t bytes)
{
    auto& ranges = r_.badRanges;
    auto next = std::lower_bound(ranges.begin(), ranges.end(), offset,
                                 [](const BadRange& r, std::uint64_t at) { return r.offset + r.bytes < at; });
    // Joined with a range it touches: the read-back finds the same sectors again.
    if (next != ranges.end() && next->offset <= offset + bytes) {
        const std::uint64_t end = std::max(next->offset + next->bytes, offset + bytes);
        next->offset = std::min(next->offset, offset);
        next->bytes = end - next->offset;
        for (auto after = next + 1; after != ranges.end() && after->offset <= end;) {
            next->bytes = std::max(end, after->offset + after->bytes) - next->offset;
            after = ranges.erase(after);
            next = after - 1;
        }
        return;
    }
    if (ranges.size() >= kMaxBadRanges)
        throw platform::RunTimeError(platform::ErrDeviceIO, QStringLiteral("more than %1 ranges of the disk could not be "
                                                                           "written or read: it is failing")
                                                                .arg(kMaxBadRanges));
    ranges.insert(next, {offset, bytes});
}

} // namespace

std::optional<DiskMethod> diskMethodNamed(const QString& name)
{
    for (const MethodName& m : kMethodNames)
        if (name == QLatin1String(m.name))
            return m.method;
    return std::nullopt;
}

QStringList diskMethodNames()
{
    QStringList names;
    for (const MethodName& m : kMethodNames)
        names << QLatin1String(m.name);
    return names;
}

std::uint64_t DiskWipeResult::badSectors() const
{
    std::uint64_t bytes = 0;
    for (const BadRange& r : badRanges)
        bytes += r.bytes;
    return (bytes + sectorSize - 1) / sectorSize;
}

QString diskProgressText(int pass, int passes, std::uint64_t done, std::uint64_t total, double bytesPerSecond)
{
    // The rest of this pass and every pass after it, at this pass's speed.
    const double toWrite = double(total - done) + double(total) * double(std::max(0, passes - pass));
    const auto left = static_cast<qint64>(bytesPerSecond > 0 ? toWrite / bytesPerSecond : 0);
    return QStringLiteral("pass %1 of %2: %3 %, %4 MB/s, %5:%6:%7 left to write")
        .arg(pass)
        .arg(passes)
        .arg(100.0 * double(done) / double(std::max<std::uint64_t>(total, 1)), 0, 'f', 1)
        .arg(bytesPerSecond / 1e6, 0, 'f', 1)
        .arg(left / 3600)
        .arg(left / 60 % 60, 2, 10, QChar(u'0'))
        .arg(left % 60, 2, 10, QChar(u'0'));
}

QString badRangeText(const BadRange& bad, std::uint32_t sectorSize)
{
    return QStringLiteral("Unreadable: bytes %1 to %2 (sectors %3 to %4), not written over")
        .arg(bad.offset)
        .arg(bad.offset + bad.bytes - 1)
        .arg(bad.offset / sectorSize)
        .arg((bad.offset + bad.bytes - 1) / sectorSize);
}

QString DiskWipeResult::outcomeText() const
{
    QString text = badRanges.empty() ? QStringLiteral("completed")
                                     : QStringLiteral("completed with %1 unreadable sectors").arg(badSectors());
    if (hiddenSectors > 0)
        text += QStringLiteral("; %1 sectors the drive hides were not reached").arg(hiddenSectors);
    return text;
}

QStringList DiskWipeResult::endLines() const
{
    QStringList lines;
    if (!refusals.isEmpty())
        return {QStringLiteral("The disk may not be wiped: %1").arg(refusals.join(QStringLiteral("; ")))};
    if (stoppedAtPercent >= 0)
        lines << QStringLiteral("Stopped at %1 % of pass %2.").arg(stoppedAtPercent, 0, 'f', 1).arg(passesDone + 1);
    else if (!reachedEnd())
        lines << QStringLiteral("The disk wipe did not complete: %1").arg(problem);
    else
        lines << QStringLiteral("The disk wipe %1: %2 pass(es), %3 bytes read back as written.")
                     .arg(outcomeText())
                     .arg(passesDone)
                     .arg(bytesVerified);
    for (const BadRange& bad : badRanges)
        lines << badRangeText(bad, sectorSize);
    if (!afterwards.isEmpty())
        lines << afterwards;
    if (hiddenSectors > 0)
        lines << hiddenAreas;
    if (discarded && !*discarded)
        lines << QStringLiteral("The device takes no discard: its sectors were only zeroed.");
    return lines;
}

DiskStream::DiskStream()
{
    std::random_device source;
    key_ = (std::uint64_t(source()) << 32) | source();
}

void DiskStream::fill(char* out, std::size_t size, int pass, std::uint64_t offset) const
{
    const std::uint64_t base = key_ + std::uint64_t(pass) * 0x9E3779B97F4A7C15ULL;
    const std::uint64_t first = offset / 8;
    for (std::size_t i = 0; i < size / 8; ++i) {
        const std::uint64_t word = mixWord(base + (first + i) * 0xD1B54A32D192ED03ULL);
        std::memcpy(out + i * 8, &word, 8);
    }
}

std::vector<std::uint64_t> sampleChunks(std::uint64_t diskBytes, std::uint64_t chunk)
{
    std::vector<std::uint64_t> chunks;
    const std::uint64_t count = (diskBytes + chunk - 1) / chunk;
    const std::uint64_t ends = std::min(count, (kSampleEnds + chunk - 1) / chunk);
    // At least 1 % of the chunks in between, evenly spaced.
    const std::uint64_t between = count > 2 * ends ? (count - 2 * ends + 99) / 100 : 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const bool end = i < ends || i >= count - ends;
        const bool spread = between > 0 && i >= ends && i < count - ends &&
                            (i - ends) % ((count - 2 * ends) / between) == 0;
        if (end || spread)
            chunks.push_back(i * chunk);
    }
    return chunks;
}

DiskWipeResult wipeDisk(const QString& device, const DiskWipePlan& plan, platform::Prompter& prompter,
                        DiskWipeView& view)
{
    DiskWipePlan once = plan;
    if (plan.method == DiskMethod::DeviceErase)
        once.passes = 1; // the device erases once
    return Run(once, prompter, view).go(device);
}

} // namespace engine
