#include "platform/drivetable.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <algorithm>

namespace platform {

static QString unescapeMountField(const QString& field)
{
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == u'\\' && i + 3 < field.size()) {
            const QString oct = field.mid(i + 1, 3);
            bool ok = false;
            const int code = oct.toInt(&ok, 8);
            if (ok && oct.size() == 3) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(const QString& text)
{
    std::vector<MountEntry> mounts;
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        // id parent major:minor root mountpoint options [optional...] - fstype source superopts
        const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
        const qsizetype dash = f.indexOf(QStringLiteral("-"));
        if (f.size() < 5 || dash < 6 || dash + 2 >= f.size())
            continue;
        MountEntry m;
        m.id = f[0].toUInt();
        const QStringList dev = f[2].split(u':');
        if (dev.size() == 2) {
            m.major = dev[0].toUInt();
            m.minor = dev[1].toUInt();
        }
        m.root = unescapeMountField(f[3]);
        m.mountPoint = unescapeMountField(f[4]);
        m.options = f[5];
        if (dash + 3 < f.size())
            m.superOptions = f[dash + 3];
        m.fsType = unescapeMountField(f[dash + 1]);
        m.source = unescapeMountField(f[dash + 2]);
        mounts.push_back(m);
    }
    return mounts;
}

bool isPseudoFileSystem(const QString& fsType)
{
    static const QStringList pseudo = {
        "proc", "sysfs", "cgroup", "cgroup2", "devpts", "mqueue", "debugfs", "tracefs",
        "securityfs", "pstore", "bpf", "configfs", "fusectl", "binfmt_misc", "hugetlbfs",
        "autofs", "nsfs", "efivarfs", "rpc_pipefs", "squashfs"};
    return pseudo.contains(fsType);
}

std::vector<MountEntry> systemMounts()
{
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // /proc files report size 0: read until the end.
    const QString text = QString::fromUtf8(f.readAll());
    std::vector<MountEntry> all = parseMountInfo(text);
    std::erase_if(all, [](const MountEntry& m) { return isPseudoFileSystem(m.fsType); });
    return all;
}

DriveTable DriveTable::fromMounts(const std::vector<MountEntry>& mounts)
{
    DriveTable t;
    std::vector<QString> others;
    bool haveRoot = false;
    for (const MountEntry& m : mounts) {
        if (isPseudoFileSystem(m.fsType))
            continue;
        if (m.mountPoint == QStringLiteral("/"))
            haveRoot = true;
        else if (std::find(others.begin(), others.end(), m.mountPoint) == others.end())
            others.push_back(m.mountPoint);
    }
    // Byte order, as the mount points are stored.
    std::sort(others.begin(), others.end(),
              [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
    if (haveRoot)
        t.drives_.push_back({QChar(u'c'), QStringLiteral("/")});
    char16_t next = u'd';
    for (const QString& mp : others) {
        if (next > u'z')
            break;
        t.drives_.push_back({QChar(next++), mp});
    }
    return t;
}

DriveTable DriveTable::fromMapping(const QString& mapping)
{
    DriveTable t;
    for (const QString& item : mapping.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf(u'=');
        if (eq != 1)
            continue;
        const QChar letter = item[0].toLower();
        if (letter < u'a' || letter > u'z')
            continue;
        QString folder = item.mid(2).trimmed();
        if (folder.isEmpty())
            continue;
        if (folder.size() > 1 && folder.endsWith(u'/'))
            folder.chop(1);
        std::erase_if(t.drives_, [&](const Drive& d) { return d.letter == letter; });
        t.drives_.push_back({letter, folder});
    }
    std::sort(t.drives_.begin(), t.drives_.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    return t;
}

DriveTable DriveTable::current()
{
    if (qEnvironmentVariableIsSet("ZARVEX_DRIVES"))
        return fromMapping(qEnvironmentVariable("ZARVEX_DRIVES"));
    return fromMounts(systemMounts());
}

std::optional<QString> DriveTable::folderFor(QChar letter) const
{
    letter = letter.toLower();
    for (const Drive& d : drives_)
        if (d.letter == letter)
            return d.folder;
    return std::nullopt;
}

std::optional<QChar> driveLetterOf(const QString& drivePath)
{
    if (drivePath.size() < 2 || drivePath[1] != u':')
        return std::nullopt;
    const QChar l = drivePath[0].toLower();
    if (l < u'a' || l > u'z')
        return std::nullopt;
    return l;
}

std::optional<QString> DriveTable::toNative(const QString& drivePath) const
{
    const auto letter = driveLetterOf(drivePath);
    if (!letter)
        return std::nullopt;
    const auto folder = folderFor(*letter);
    if (!folder)
        return std::nullopt;
    QString rest = drivePath.mid(2);
    rest.replace(u'\\', u'/');
    while (rest.startsWith(u'/'))
        rest.remove(0, 1);
    if (rest.isEmpty())
        return *folder;
    return *folder == QStringLiteral("/") ? QStringLiteral("/") + rest : *folder + u'/' + rest;
}

std::optional<QString> DriveTable::toDrivePath(const QString& nativePath) const
{
    const QString path = QDir::cleanPath(nativePath);
    const Drive* best = nullptr;
    for (const Drive& d : drives_) {
        const bool holds = d.folder == QStringLiteral("/") || path == d.folder ||
                           path.startsWith(d.folder + u'/');
        if (holds && (!best || d.folder.size() > best->folder.size()))
            best = &d;
    }
    if (!best)
        return std::nullopt;
    QString rest = best->folder == QStringLiteral("/") ? path.mid(1) : path.mid(best->folder.size() + 1);
    if (rest.contains(u'\\'))
        return std::nullopt;
    rest.replace(u'/', u'\\');
    return QString(best->letter) + QStringLiteral(":\\") + rest;
}

bool driveEntryIsCurrent(const QString& entry, const DriveTable& table)
{
    const auto letter = driveLetterOf(entry);
    const qsizetype open = entry.indexOf(QStringLiteral(" ["));
    if (!letter || open != 2 || !entry.endsWith(u']'))
        return true; // a bare letter names no folder to compare
    return table.folderFor(*letter) == entry.mid(4, entry.size() - 5);
}

QString driveEntryText(const Drive& drive)
{
    return QStringLiteral("%1: [%2]").arg(QString(drive.letter), drive.folder);
}

} // namespace platform
