#include "engine/recordfill.h"
#include "engine/mixedfill.h"
#include "platform/errors.h"

#include <cstring>

namespace engine {

namespace {

// btrfs: empty files under the longest names with the pattern in an
// attribute, no table bound, and a free space that counts room only
// metadata may take. NTFS: 560 bytes stay inside
// a 1 KiB record beside a 32-character name (header, times, name and data
// headers take some 340 bytes), so no file needs a cluster of a full drive.
constexpr RecordPolicy kPolicies[] = {
    {"btrfs", 0, 8000, 255, false, false, true, false},
    {"ntfs", 560, 0, 32, true, true, false, true},
};

// Free records left alone while clusters are free (the index-room step): a
// count off by one there would grow the table for good. Once the drive is
// full the table cannot grow, and the driver's refusal ends the fill.
constexpr std::uint64_t kTableMargin = 2;
constexpr int kMaxTailNames = 256; // names into the table's never-used records, at most
constexpr int kCheckEvery = 64; // files between looks at the clock and the window

QString folderName(int attempt)
{
    return attempt == 0 ? QStringLiteral("tmptxt0") : QStringLiteral("tmptxt0_%1").arg(attempt);
}

} // namespace

const RecordPolicy* recordPolicy(const QString& fsType)
{
    for (const RecordPolicy& p : kPolicies)
        if (fsType == QLatin1String(p.fsType))
            return &p;
    return nullptr;
}

RecordFill::RecordFill(FillTarget& target, QString drive, const platform::FileSystemTraits& facts,
                       platform::Clock& clock, QStringList& leftBehind)
    : target_(target), space_(target.recordSpace()), drive_(std::move(drive)), policy_(recordPolicy(facts.fsType)),
      facts_(facts), clock_(clock), leftBehind_(leftBehind), guard_([this] { discard(); })
{
    if (!space_)
        policy_ = nullptr;
}

RecordFill::~RecordFill()
{
    discard();
}

// Six digits keep every name distinct; the rest are the pass's pattern,
// turned into letters and digits that every file system takes in a name.
QString RecordFill::name(int n, const QByteArray& unit, int length) const
{
    static const char kSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString s = QStringLiteral("%1").arg(n, 6, 10, QChar(u'0'));
    for (int i = 0; s.size() < length; ++i)
        s += QLatin1Char(unit.isEmpty() ? 'x' : kSafe[static_cast<unsigned char>(unit[i % unit.size()]) % 62]);
    return folder_ + u'\\' + s;
}

void RecordFill::prepare()
{
    if (!policy_)
        return;
    for (int attempt = 0; folder_.isEmpty(); ++attempt) {
        const QString path = drive_ + u'\\' + folderName(attempt);
        try {
            space_->makeFolder(path);
            folder_ = path;
        } catch (const platform::RunTimeError& e) {
            // A folder of that name that the wipe did not make is left alone.
            if (e.number() != platform::ErrPathFileAccess || !target_.exists(path) || attempt >= 99)
                throw;
        }
    }
    std::uint64_t room = 0;
    if (policy_->boundByTable) {
        const auto table = space_->table();
        if (table && table->freeRecords > kTableMargin)
            room = std::min<std::uint64_t>(table->freeRecords - kTableMargin, kMaxRecordFiles);
    }
    if (!policy_->makeIndexRoom)
        return;
    // Names of the length the fill will use, while clusters are still free;
    // the index keeps its blocks when the names go again.
    QStringList names;
    auto makeName = [&] {
        names << name(int(names.size()), {}, policy_->nameLength);
        space_->writeSmall(names.last(), {}, {});
    };
    try {
        for (std::uint64_t n = 0; n < room; ++n)
            makeName();
        // The last free records are taken as well, each only while a fresh
        // look at the table shows one free (so the table never grows): the
        // driver (ntfs-3g) searches on from the last record it gave out,
        // and on a full drive it fails at free records left at the table's
        // end instead of going back to those freed before them. Two left
        // there and a later name (the index cover's) found no record.
        for (int n = 0; policy_->boundByTable && room > 0 && n < kMaxTailNames; ++n) {
            const auto table = space_->table();
            if (!table || table->freeRecords == 0)
                break;
            makeName();
        }
    } catch (const platform::RunTimeError& e) {
        if (e.number() != platform::ErrDiskFull)
            throw;
        names.removeLast();
    }
    for (const QString& path : std::as_const(names))
        target_.remove(path);
}

void RecordFill::fill(const FillBuffers& pattern)
{
    if (!policy_ || folder_.isEmpty())
        return;
    std::uint64_t bound = kMaxRecordFiles;
    if (policy_->boundByTable) {
        const auto table = space_->table();
        bound = std::min<std::uint64_t>(table ? table->freeRecords : 0, kMaxRecordFiles);
    }
    auto patternOf = [&](int size) {
        QByteArray bytes;
        while (bytes.size() < size)
            bytes += pattern.FillBlock1K.isEmpty() ? QByteArray(size, 'x') : pattern.FillBlock1K;
        bytes.truncate(size);
        return bytes;
    };
    const QByteArray data = patternOf(policy_->fileBytes);
    const QByteArray attribute = patternOf(policy_->attributeBytes);
    // Where the drive compresses, the files would shrink to a few bytes each.
    std::optional<KeyedMix> mix;
    if (!facts_.compression.isEmpty())
        mix.emplace();
    const QDateTime deadline = clock_.now().addSecs(kMaxRecordSeconds);

    for (std::uint64_t n = 0; n < bound; ++n) {
        if (n % kCheckEvery == 0) {
            clock_.yield();
            if (clock_.now() > deadline)
                break;
        }
        QByteArray content = data, extra = attribute;
        if (mix) {
            mix->apply(content.data(), static_cast<std::size_t>(content.size()));
            mix->apply(extra.data(), static_cast<std::size_t>(extra.size()));
        }
        const QString path = name(made_, pattern.FillUnit, policy_->nameLength);
        try {
            space_->writeSmall(path, content, extra);
        } catch (const platform::RunTimeError& e) {
            if (e.number() == platform::ErrDiskFull)
                break; // the file system refuses another: its free records are taken
            throw;
        }
        created_ << path;
        ++made_;
    }
    space_->flush();
}

// A bound in time for covering folder indexes, asked before each name: it
// yields to the window now and then, and says no once the time is up or
// `more` does.
std::function<bool()> RecordFill::until(int seconds, const std::function<bool()>& more)
{
    const QDateTime deadline = clock_.now().addSecs(seconds);
    return [this, deadline, more, n = 0]() mutable {
        if (n++ % kCheckEvery == 0)
            clock_.yield();
        return clock_.now() <= deadline && (!more || more());
    };
}

std::optional<bool> RecordFill::coverRootIndex()
{
    if (!policy_ || !policy_->coversRootIndex)
        return std::nullopt;
    try {
        return space_->coverIndex(drive_.left(2) + u'\\', until(kMaxRecordSeconds));
    } catch (const platform::RunTimeError&) {
        return false; // the drive has gone
    }
}

std::optional<FolderCover> RecordFill::coverEveryFolder(const std::function<bool(int folders)>& goOn)
{
    if (!policy_ || !policy_->coversRootIndex)
        return std::nullopt;
    int folders = 0;
    const auto inTime = until(kMaxFolderSeconds, [&] { return goOn(folders); });
    return space_->coverEveryFolder([&](int done) {
        folders = done;
        return inTime();
    });
}

void RecordFill::deleteFiles()
{
    while (!created_.isEmpty()) {
        target_.remove(created_.first());
        created_.removeFirst();
    }
    if (!folder_.isEmpty()) {
        space_->removeFolder(folder_);
        folder_.clear();
    }
}

void RecordFill::discard()
{
    try {
        deleteFiles();
    } catch (const platform::RunTimeError&) {
        // The volume has gone: say where the files stay.
        if (!folder_.isEmpty())
            leftBehind_ << folder_.section(u'\\', -1) + u'\\';
        created_.clear();
        folder_.clear();
    }
}

} // namespace engine
