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
    try {
        for (std::uint64_t n = 0; n < room; ++n) {
            names << name(int(n), {}, policy_->nameLength);
            space_->writeSmall(names.last(), {}, {});
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

// Long names first, 63 characters: two such entries fit in the index's part
// of the root's record, where longer ones would push it out into a record
// of its own. An entry that lands there changes the size the folder
// reports: the index would grow past its blocks next, so the names stop.
// Then short names just before each long one, until its block refuses
// another: a block is written only as far as its entries reach, and a full
// block's last bytes (less than a long entry) take short entries.
std::optional<bool> RecordFill::coverRootIndex()
{
    if (!policy_ || !policy_->coversRootIndex)
        return std::nullopt;
    constexpr int kLongName = 63;
    const QString root = drive_.left(2) + u'\\';
    const std::int64_t size = space_->folderSize(root);
    const QDateTime deadline = clock_.now().addSecs(kMaxRecordSeconds);
    const qsizetype before = created_.size(); // the names join the files deleted if the wipe ends now
    auto shortName = [&](int n) { return root + QStringLiteral("tmptxtn%1").arg(n, 7, 10, QChar(u'0')); };
    // Made, or refused for want of room (61): the end of what the blocks take.
    auto make = [&](const QString& path) {
        try {
            target_.create(path)->close();
            created_ << path;
            return true;
        } catch (const platform::RunTimeError& e) {
            if (e.number() == platform::ErrDiskFull)
                return false;
            if (e.number() != platform::ErrPathFileAccess || !target_.exists(path))
                throw; // (a name that is there already is passed by)
            return true;
        }
    };
    auto unchanged = [&](int n) {
        if (n % kCheckEvery == 0)
            clock_.yield();
        return clock_.now() <= deadline && space_->folderSize(root) == size;
    };
    bool whole = false;
    try {
        int longNames = 0;
        while (longNames < kMaxRecordFiles && unchanged(longNames) &&
               make(shortName(longNames) + QString(kLongName - 14, u'x')))
            ++longNames;
        whole = longNames < kMaxRecordFiles && unchanged(longNames);
        for (int n = 0; whole && n <= longNames; ++n) {
            for (char16_t c = u'a'; c < u'x' && make(shortName(n) + QChar(c));)
                ++c; // the block of name n is full when one is refused
            whole = unchanged(n);
        }
        whole = space_->fillFolderRecord(root) && whole;
    } catch (const platform::RunTimeError&) {
        whole = false; // the root takes no file of the caller's, or the drive has gone
    }
    while (created_.size() > before) {
        target_.remove(created_.last());
        created_.removeLast();
    }
    return whole;
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
