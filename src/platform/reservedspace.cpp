#include "platform/reservedspace.h"
#include "platform/drivetable.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

QString ReservedSpaceRelease::reserveKnob(const QString& nativeFolder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(nativeFolder).constData(), &st) != 0)
        return {};
    bool ext4 = false;
    for (const MountEntry& m : systemMounts())
        if (m.major == major(st.st_dev) && m.minor == minor(st.st_dev))
            ext4 = m.fsType == QStringLiteral("ext4");
    if (!ext4)
        return {};
    // /sys/fs/ext4/ names file systems by their block device.
    const QString dev = QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev)))
                            .canonicalFilePath();
    if (dev.isEmpty())
        return {};
    const QString knob = QStringLiteral("/sys/fs/ext4/") + QFileInfo(dev).fileName() +
                         QStringLiteral("/reserved_clusters");
    return QFileInfo::exists(knob) ? knob : QString();
}

static bool writeKnob(const QString& knob, const QByteArray& value)
{
    QFile f(knob);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(value) == value.size() && f.flush();
}

ReservedSpaceRelease::ReservedSpaceRelease(const QString& nativeFolder,
                                           const std::function<void(const QString&, const QString&)>& beforeRelease)
{
    const QString knob = reserveKnob(nativeFolder);
    if (!knob.isEmpty() && ::geteuid() == 0) {
        QFile f(knob);
        if (f.open(QIODevice::ReadOnly)) {
            oldValue_ = QString::fromLatin1(f.readAll()).trimmed();
            f.close();
            if (beforeRelease && oldValue_ != QStringLiteral("0"))
                beforeRelease(knob, oldValue_);
            if (oldValue_ == QStringLiteral("0") || writeKnob(knob, "0"))
                knob_ = oldValue_ == QStringLiteral("0") ? QString() : knob;
            else
                outOfReach_ = true;
        }
    } else if (!knob.isEmpty()) {
        outOfReach_ = true;
    }
    // Without root, blocks kept for root are out of reach on any file system.
    struct statvfs sv {};
    if (::geteuid() != 0 && ::statvfs(QFile::encodeName(nativeFolder).constData(), &sv) == 0 &&
        sv.f_bfree > sv.f_bavail)
        outOfReach_ = true;
}

ReservedSpaceRelease::~ReservedSpaceRelease()
{
    restore();
}

void ReservedSpaceRelease::restore()
{
    if (!knob_.isEmpty())
        writeKnob(knob_, oldValue_.toLatin1());
    knob_.clear();
}

} // namespace platform
