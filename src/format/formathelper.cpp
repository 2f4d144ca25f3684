#include "format/formathelper.h"

#include <QFile>

#include "platform/drivetable.h"
#include "platform/mounts.h"
#include "platform/tools.h"

#include <QRegularExpression>
#include <algorithm>
#include <vector>

namespace format {

namespace {

// How long the device or image may stay held after the unmount: a FUSE
// driver writes its last metadata after umount returns, a self-clearing loop
// device lets go of its image a moment later.
constexpr int kReleaseWaitMs = 15000;
constexpr int kReleasePollMs = 50;

struct MountAttempt {
    QString program;
    QStringList args;
};

QString oneLine(const QString& toolOutput)
{
    QStringList kept;
    for (const QString& raw : toolOutput.split(u'\n')) {
        const QString line = raw.trimmed();
        // mount(8) adds a hint about the kernel log that says nothing itself.
        if (line.isEmpty() || line.contains(QStringLiteral("dmesg(1)")))
            continue;
        kept << line;
    }
    QString text = kept.join(QStringLiteral("; "));
    constexpr qsizetype kMax = 400;
    if (text.size() > kMax)
        text = QStringLiteral("...") + text.right(kMax);
    return text.isEmpty() ? QStringLiteral("no reason given") : text;
}

QString joinPids(const std::vector<int>& pids)
{
    QStringList list;
    for (int p : pids)
        list << QString::number(p);
    return list.join(QStringLiteral(", "));
}

const platform::MountEntry* lastMountAt(const std::vector<platform::MountEntry>& mounts, const QString& folder)
{
    // A later mount on the same folder hides the earlier ones.
    const platform::MountEntry* found = nullptr;
    for (const platform::MountEntry& m : mounts)
        if (m.mountPoint == folder)
            found = &m;
    return found;
}

QStringList mkfsArguments(FileSystem fs, const QString& target)
{
    switch (fs) {
    case FileSystem::Fat:
        // The file system was mounted right off this device, so the whole of
        // it is the volume: -I lets mkfs.fat take a device without partitions.
        return {QStringLiteral("-I"), target};
    case FileSystem::Fat32:
        return {QStringLiteral("-F"), QStringLiteral("32"), QStringLiteral("-I"), target};
    case FileSystem::Ntfs:
        return {QStringLiteral("--quick"), QStringLiteral("--force"), target};
    }
    return {};
}

// Ways to mount the new file system, best first; empty when no tool is there.
std::vector<MountAttempt> mountAttempts(FileSystem fs, const QString& target, bool imageFile,
                                        const QString& mountPoint)
{
    std::vector<MountAttempt> attempts;
    const QString mountTool = platform::findTool(QStringLiteral("mount"));
    auto kernelMount = [&](const QString& type) {
        QStringList args{QStringLiteral("-t"), type};
        if (imageFile)
            args << QStringLiteral("-o") << QStringLiteral("loop");
        args << target << mountPoint;
        attempts.push_back({mountTool, args});
    };
    if (fs != FileSystem::Ntfs) {
        if (!mountTool.isEmpty())
            kernelMount(QStringLiteral("vfat"));
        return attempts;
    }
    const QString ntfs3g = platform::findTool(QStringLiteral("ntfs-3g"));
    if (!mountTool.isEmpty() && (platform::kernelSupports(QStringLiteral("ntfs3")) || ntfs3g.isEmpty()))
        kernelMount(QStringLiteral("ntfs3"));
    if (!ntfs3g.isEmpty())
        attempts.push_back({ntfs3g, {target, mountPoint}});
    return attempts;
}

// Polls until `released` holds or the time is up.
template <typename Released>
bool waitUntil(Released released)
{
    for (int waited = 0; waited < kReleaseWaitMs; waited += kReleasePollMs) {
        if (released())
            return true;
        platform::sleepMs(kReleasePollMs);
    }
    return released();
}

} // namespace

QString fileSystemName(FileSystem fileSystem)
{
    switch (fileSystem) {
    case FileSystem::Fat: return QStringLiteral("FAT");
    case FileSystem::Fat32: return QStringLiteral("FAT32");
    case FileSystem::Ntfs: return QStringLiteral("NTFS");
    }
    return {};
}

std::optional<FormatRequest> parseFormatArguments(const QStringList& args)
{
    if (args.size() < 2)
        return std::nullopt;
    static const QRegularExpression driveRe(QStringLiteral("^[A-Za-z]:$"));
    if (!driveRe.match(args.first()).hasMatch())
        return std::nullopt;
    FormatRequest request;
    request.letter = args.first()[0].toLower();

    QString switches;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (!args[i].startsWith(u'/'))
            return std::nullopt;
        switches += args[i];
    }
    // "/fs:ntfs/x/y/q" splits into "", "fs:ntfs", "x", "y", "q".
    const QStringList parts = switches.toLower().split(u'/');
    bool haveFs = false, haveX = false, haveY = false, haveQ = false;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString& p = parts[i];
        bool* seen = nullptr;
        if (p == u'x')
            seen = &haveX;
        else if (p == u'y')
            seen = &haveY;
        else if (p == u'q')
            seen = &haveQ;
        else if (p.startsWith(QStringLiteral("fs:"))) {
            const QString name = p.mid(3);
            if (name == QStringLiteral("fat"))
                request.fileSystem = FileSystem::Fat;
            else if (name == QStringLiteral("fat32"))
                request.fileSystem = FileSystem::Fat32;
            else if (name == QStringLiteral("ntfs"))
                request.fileSystem = FileSystem::Ntfs;
            else
                return std::nullopt;
            seen = &haveFs;
        } else {
            return std::nullopt;
        }
        if (*seen)
            return std::nullopt;
        *seen = true;
    }
    if (!(haveFs && haveX && haveY && haveQ))
        return std::nullopt;
    return request;
}

QString formatUsage()
{
    return QStringLiteral("usage: zarvexformat <letter>: /fs:<fat|fat32|ntfs>/x/y/q");
}

// ntfs-3g mounts an image as "fuse" or "fuseblk"; the image starts with the
// NTFS boot sector.
static bool hasNtfsImageSignature(const QString& fsType, const QString& image)
{
    if (fsType != QStringLiteral("fuse") && fsType != QStringLiteral("fuseblk"))
        return false;
    QFile f(image);
    return f.open(QIODevice::ReadOnly) && f.read(11).mid(3) == QByteArray("NTFS    ");
}

HelperOutcome runFormatHelper(const QStringList& args)
{
    const auto request = parseFormatArguments(args);
    if (!request)
        return {ExitUsage, formatUsage()};
    const QString drive = QString(request->letter) + u':';
    const QString fsName = fileSystemName(request->fileSystem);
    auto refuse = [&](const QString& why) {
        return HelperOutcome{ExitRefused, drive + QStringLiteral(" was not formatted: ") + why};
    };

    if (!platform::isSuperUser())
        return refuse(QStringLiteral("formatting a drive needs root privileges"));

    const auto folder = platform::DriveTable::current().folderFor(request->letter);
    if (!folder)
        return refuse(QStringLiteral("there is no drive with this letter"));
    const auto mountPoint = platform::canonicalFolder(*folder);
    if (!mountPoint)
        return refuse(*folder + QStringLiteral(" does not exist"));
    if (*mountPoint == QStringLiteral("/"))
        return refuse(QStringLiteral("it is the drive that holds the system (/)"));

    const std::vector<platform::MountEntry> mounts = platform::allMounts();
    const platform::MountEntry* volume = lastMountAt(mounts, *mountPoint);
    if (!volume)
        return refuse(*mountPoint + QStringLiteral(" is not a mount point; only a whole mounted volume can be formatted"));
    // Formatting works on the whole device: a mount that shows only part of
    // it (a bind mount of a folder, a btrfs subvolume) would take the rest
    // with it unseen.
    if (volume->root != QStringLiteral("/"))
        return refuse(*mountPoint + QStringLiteral(" shows only ") + volume->root +
                      QStringLiteral(" of its volume; only a whole volume can be formatted"));
    static const QStringList systemFolders = {"/boot", "/boot/efi", "/efi", "/usr", "/var"};
    if (systemFolders.contains(*mountPoint))
        return refuse(*mountPoint + QStringLiteral(" is a part of the running system"));
    const platform::MountEntry* root = lastMountAt(mounts, QStringLiteral("/"));
    if (root && root->major == volume->major && root->minor == volume->minor)
        return refuse(*mountPoint + QStringLiteral(" is on the volume that holds the system (/)"));

    const QString source = volume->source;
    const platform::NodeKind sourceKind =
        source.startsWith(u'/') ? platform::nodeKind(source) : platform::NodeKind::Missing;
    if (sourceKind != platform::NodeKind::BlockDevice && sourceKind != platform::NodeKind::RegularFile)
        return refuse(*mountPoint + QStringLiteral(" holds a ") + volume->fsType + QStringLiteral(" file system from ") +
                      source + QStringLiteral(", which is neither a disk nor an image file"));

    // A file behind a mount is an image only for ntfs-3g, the one image-backed
    // FUSE driver formatted here; other FUSE drivers (archives and the like)
    // name files that are no volume at all.
    if (sourceKind == platform::NodeKind::RegularFile && !hasNtfsImageSignature(volume->fsType, source))
        return refuse(*mountPoint + QStringLiteral(" is a ") + volume->fsType + QStringLiteral(" view of the file ") +
                      source + QStringLiteral(", which is not a disk image"));

    // The same volume seen through another folder would stay mounted there
    // while its device is overwritten.
    for (const platform::MountEntry& m : mounts) {
        if (m.mountPoint == *mountPoint)
            continue;
        if ((m.major == volume->major && m.minor == volume->minor) || m.source == source)
            return refuse(QStringLiteral("its volume is also mounted at ") + m.mountPoint);
    }

    // A loop device that clears itself is gone after the unmount: format its
    // image and let mount set up a new loop device.
    QString target = source;
    bool targetIsImage = sourceKind == platform::NodeKind::RegularFile;
    const auto loop = platform::loopDeviceInfo(source);
    if (loop && loop->autoClear) {
        if (platform::nodeKind(loop->backingFile) != platform::NodeKind::RegularFile)
            return refuse(QStringLiteral("the image ") + loop->backingFile + QStringLiteral(" behind ") + source +
                          QStringLiteral(" cannot be found"));
        target = loop->backingFile;
        targetIsImage = true;
    }

    const QString mkfs = platform::findTool(request->fileSystem == FileSystem::Ntfs ? QStringLiteral("mkfs.ntfs")
                                                                                     : QStringLiteral("mkfs.fat"));
    if (mkfs.isEmpty())
        return refuse(QStringLiteral("the tool to make a ") + fsName + QStringLiteral(" file system is not installed"));
    const std::vector<MountAttempt> attempts =
        mountAttempts(request->fileSystem, target, targetIsImage, *mountPoint);
    if (attempts.empty())
        return refuse(QStringLiteral("no tool to mount a ") + fsName + QStringLiteral(" file system is installed"));

    QString why;
    switch (platform::unmountFolder(*mountPoint, &why)) {
    case platform::UnmountResult::Done:
        break;
    case platform::UnmountResult::Busy:
        return refuse(*mountPoint + QStringLiteral(" is in use; close the files and folders open on it and try again"));
    case platform::UnmountResult::Failed:
        return refuse(QStringLiteral("cannot unmount ") + *mountPoint + QStringLiteral(": ") + why);
    }

    auto fail = [&](const QString& what) { return HelperOutcome{ExitFailed, what}; };
    if (loop && loop->autoClear &&
        !waitUntil([&] {
            const auto now = platform::loopDeviceInfo(source);
            return !now || now->backingFile != loop->backingFile;
        }))
        return fail(drive + QStringLiteral(" was unmounted from ") + *mountPoint + QStringLiteral(" but ") + source +
                    QStringLiteral(" did not let go of ") + target + QStringLiteral("; it was not formatted"));
    std::vector<int> holders;
    if (!waitUntil([&] { return (holders = platform::processesHolding(target)).empty(); }))
        return fail(drive + QStringLiteral(" was unmounted from ") + *mountPoint + QStringLiteral(" but ") + target +
                    QStringLiteral(" is still held open by process ") + joinPids(holders) +
                    QStringLiteral("; it was not formatted"));

    const platform::ToolResult made = platform::runTool(mkfs, mkfsArguments(request->fileSystem, target));
    if (!made.started || made.exitCode != 0)
        return fail(drive + QStringLiteral(" was unmounted from ") + *mountPoint +
                    QStringLiteral(" but could not be formatted as ") + fsName + QStringLiteral(": ") +
                    oneLine(made.output));

    platform::ToolResult mounted;
    for (const MountAttempt& a : attempts) {
        mounted = platform::runTool(a.program, a.args);
        if (mounted.started && mounted.exitCode == 0)
            return {ExitFormatted, {}};
    }
    return fail(QStringLiteral("formatted ") + drive + QStringLiteral(" as ") + fsName +
                QStringLiteral(" but could not mount it at ") + *mountPoint + QStringLiteral(": ") +
                oneLine(mounted.output));
}

} // namespace format
