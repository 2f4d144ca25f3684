#include "platform/disks.h"
#include "platform/drivetable.h"
#include "platform/mounts.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {

const QString kSysBlock = QStringLiteral("/sys/block/");

QString sysText(const QString& path)
{
    return QString::fromUtf8(readSmallFile(path)).trimmed();
}

std::uint64_t sysNumber(const QString& path)
{
    return sysText(path).toULongLong();
}

// "8:0" as the kernel writes a device's numbers.
std::pair<unsigned, unsigned> numbersIn(const QString& dev)
{
    return {dev.section(u':', 0, 0).toUInt(), dev.section(u':', 1, 1).toUInt()};
}

// How the disk is attached, by its name and where sysfs finds its device;
// the first row that matches.
struct TransportRule {
    const char* label;
    std::function<bool(const QString& name, const QString& sysPath)> matches;
};
const std::vector<TransportRule>& transportRules()
{
    static const std::vector<TransportRule> rules = {
        {"loop", [](const QString& name, const QString&) { return name.startsWith(u"loop"); }},
        {"NVMe", [](const QString& name, const QString&) { return name.startsWith(u"nvme"); }},
        {"USB", [](const QString&, const QString& path) { return path.contains(u"/usb"); }},
        {"SATA", [](const QString&, const QString& path) { return path.contains(u"/ata"); }},
        {"virtio", [](const QString&, const QString& path) { return path.contains(u"/virtio"); }},
        {"SCSI", [](const QString&, const QString& path) { return path.contains(u"/host"); }},
    };
    return rules;
}

QString transportOf(const QString& name, const QString& sysPath)
{
    for (const TransportRule& rule : transportRules())
        if (rule.matches(name, sysPath))
            return QString::fromLatin1(rule.label);
    return QStringLiteral("other");
}

// The serial number from the first place that has one: the device's unit
// serial number page (SCSI, SATA and USB disks), its own serial (NVMe,
// virtio), or what udev read.
QString serialOf(const QString& sys, unsigned major, unsigned minor)
{
    const QByteArray page = readSmallFile(sys + QStringLiteral("/device/vpd_pg80"));
    if (page.size() > 4)
        if (const QString s = QString::fromLatin1(page.mid(4)).trimmed(); !s.isEmpty())
            return s;
    for (const QString& file : {sys + QStringLiteral("/device/serial"), sys + QStringLiteral("/serial")})
        if (const QString s = sysText(file); !s.isEmpty())
            return s;
    const QStringList udev =
        QString::fromUtf8(readSmallFile(QStringLiteral("/run/udev/data/b%1:%2").arg(major).arg(minor))).split(u'\n');
    for (const QString& line : udev)
        if (line.startsWith(u"E:ID_SERIAL_SHORT="))
            return line.mid(18).trimmed();
    return {};
}

QStringList mountPointsOf(const std::vector<MountEntry>& mounts, unsigned major, unsigned minor)
{
    QStringList points;
    for (const MountEntry& m : mounts)
        if (m.major == major && m.minor == minor)
            points << m.mountPoint;
    return points;
}

Disk diskNamed(const QString& name, const std::vector<MountEntry>& mounts)
{
    const QString sys = kSysBlock + name;
    Disk d;
    d.name = name;
    d.device = QStringLiteral("/dev/") + name;
    std::tie(d.major, d.minor) = numbersIn(sysText(sys + QStringLiteral("/dev")));
    d.bytes = sysNumber(sys + QStringLiteral("/size")) * 512;
    d.logicalSector = static_cast<std::uint32_t>(sysNumber(sys + QStringLiteral("/queue/logical_block_size")));
    d.rotational = sysNumber(sys + QStringLiteral("/queue/rotational")) != 0;
    d.removable = sysNumber(sys + QStringLiteral("/removable")) != 0;
    d.transport = transportOf(name, QFileInfo(sys).canonicalFilePath());
    d.model = sysText(sys + QStringLiteral("/device/model"));
    if (d.transport == QStringLiteral("loop"))
        if (const auto loop = loopDeviceInfo(d.device))
            d.model = QStringLiteral("loop device of %1").arg(loop->backingFile);
    d.serial = serialOf(sys, d.major, d.minor);
    d.mountPoints = mountPointsOf(mounts, d.major, d.minor);
    const QStringList entries = QDir(sys).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (!QFileInfo::exists(sys + u'/' + entry + QStringLiteral("/partition")))
            continue;
        const auto [major, minor] = numbersIn(sysText(sys + u'/' + entry + QStringLiteral("/dev")));
        d.parts << DiskPart{QStringLiteral("/dev/") + entry, sysNumber(sys + u'/' + entry + QStringLiteral("/size")) * 512,
                            mountPointsOf(mounts, major, minor)};
    }
    return d;
}

// The whole disks a device is built on: itself, the disk of a partition,
// or the disks beneath a device-mapper or RAID device (its slaves).
QSet<QString> disksBeneath(unsigned major, unsigned minor, int depth = 0)
{
    const QString sys = QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor)).canonicalFilePath();
    if (sys.isEmpty() || depth > 8)
        return {};
    if (QFileInfo::exists(sys + QStringLiteral("/partition")))
        return {QFileInfo(sys).dir().dirName()};
    QSet<QString> disks;
    for (const QString& slave : QDir(sys + QStringLiteral("/slaves")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto [ma, mi] = numbersIn(sysText(sys + QStringLiteral("/slaves/") + slave + QStringLiteral("/dev")));
        disks.unite(disksBeneath(ma, mi, depth + 1));
    }
    return disks.isEmpty() ? QSet<QString>{QFileInfo(sys).fileName()} : disks;
}

// The folders the running system needs: the disk that holds one is never
// offered.
const QStringList kSystemFolders = {QStringLiteral("/"), QStringLiteral("/boot"), QStringLiteral("/usr")};

} // namespace

QList<Disk> listDisks()
{
    const std::vector<MountEntry> mounts = allMounts();
    QList<Disk> disks;
    for (const QString& name : QDir(kSysBlock).entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString sys = kSysBlock + name;
        // A device behind it, or an attached loop device; stacks and memory
        // disks have neither.
        const bool loop = name.startsWith(u"loop") && sysNumber(sys + QStringLiteral("/size")) > 0;
        if (loop || QFileInfo::exists(sys + QStringLiteral("/device")))
            disks << diskNamed(name, mounts);
    }
    return disks;
}

QStringList refusalsOf(const Disk& disk)
{
    QStringList why;
    for (const MountEntry& m : allMounts()) {
        if (!kSystemFolders.contains(m.mountPoint))
            continue;
        unsigned major = m.major, minor = m.minor;
        // btrfs shows a number of its own: its source names the device.
        struct stat st {};
        if (major == 0 && ::stat(QFile::encodeName(m.source).constData(), &st) == 0 && S_ISBLK(st.st_mode))
            major = ::major(st.st_rdev), minor = ::minor(st.st_rdev);
        if (disksBeneath(major, minor).contains(disk.name))
            why << QStringLiteral("it holds %1 (mounted from %2)").arg(m.mountPoint, m.source);
    }
    QStringList devices{disk.device};
    for (const DiskPart& part : disk.parts)
        devices << part.device;
    for (const QString& device : devices) {
        for (const QString& user : kernelUsersOf(device)) {
            if (user == QStringLiteral("swap"))
                why << QStringLiteral("%1 is an active swap").arg(device);
            else
                why << QStringLiteral("%1 belongs to %2 (a RAID, LVM or device-mapper stack in use)").arg(device, user);
        }
    }
    return why;
}

QString diskSizeText(std::uint64_t bytes)
{
    return QLocale::c().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeIecFormat);
}

bool speaksAta(const Disk& disk)
{
    return disk.transport == QStringLiteral("SATA") || disk.transport == QStringLiteral("USB");
}

} // namespace platform
