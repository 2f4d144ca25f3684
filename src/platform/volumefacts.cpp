// The label and UUID live in the file system's own superblock. udev
// publishes them as links under /dev/disk, which any user can read; where
// there is no udev (containers, early boot) blkid probes the device itself,
// which needs the right to read it.
#include "platform/volumefacts.h"
#include "platform/mounts.h"
#include "platform/tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

// The name under /dev/disk/by-<kind> whose link leads to `device`.
QString linkNameFor(const QString& kind, const QString& device)
{
    const QDir dir(QStringLiteral("/dev/disk/by-") + kind);
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == target)
            return link.fileName().replace(QStringLiteral("\\x20"), QStringLiteral(" "));
    return {};
}

void probeWithBlkid(const QString& device, VolumeFacts& facts)
{
    const QString blkid = findTool(QStringLiteral("blkid"));
    if (blkid.isEmpty())
        return;
    const ToolResult r = runTool(blkid, {QStringLiteral("-p"), QStringLiteral("-o"), QStringLiteral("export"), device});
    if (r.exitCode != 0)
        return;
    for (const QString& line : r.output.split(u'\n')) {
        const QString value = line.section(u'=', 1);
        if (line.startsWith(QLatin1String("LABEL=")) && facts.label.isEmpty())
            facts.label = value;
        else if (line.startsWith(QLatin1String("UUID=")) && facts.uuid.isEmpty())
            facts.uuid = value;
        else if (line.startsWith(QLatin1String("TYPE=")))
            facts.fileSystem = value;
    }
}

} // namespace

VolumeFacts volumeFacts(const QString& nativeFolder)
{
    VolumeFacts facts;
    const auto mountPoint = mountPointHolding(nativeFolder);
    facts.mountPoint = mountPoint.value_or(nativeFolder);
    // The last mount on a place is the one that shows.
    for (const MountEntry& m : allMounts()) {
        if (mountPoint && m.mountPoint == *mountPoint) {
            facts.device = m.source;
            facts.fileSystem = m.fsType;
        }
    }
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(facts.mountPoint).constData(), &vfs) == 0)
        facts.sizeBytes = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;

    const NodeKind kind = nodeKind(facts.device);
    if (kind != NodeKind::BlockDevice && kind != NodeKind::RegularFile)
        return facts;
    if (kind == NodeKind::BlockDevice) {
        facts.uuid = linkNameFor(QStringLiteral("uuid"), facts.device);
        facts.label = linkNameFor(QStringLiteral("label"), facts.device);
    }
    probeWithBlkid(facts.device, facts);
    if (const auto loop = loopDeviceInfo(facts.device))
        facts.device += QStringLiteral(" (image %1)").arg(loop->backingFile);
    return facts;
}

QString hostName()
{
    return QSysInfo::machineHostName();
}

QString userName()
{
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(::geteuid());
}

} // namespace platform
