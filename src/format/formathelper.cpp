#include "format/formathelper.h"

#include <QFile>

#include "platform/drivetable.h"
#include "platform/names.h"
#include "platform/mounts.h"
#include "platform/tools.h"

#include <QRegularExpression>
#include <algorithm>
#include <sys/stat.h>
#include <vector>

namespace format {

namespace {

// How long the device or image may stay held after the unmount: a FUSE
// driver writes its last metadata after umount returns, a self-clearing loop
// device lets go of its image a moment later.
constexpr int kReleaseWaitMs = 15000;
constexpr int kReleasePollMs = 50;
// mkfs on a large slow disk takes minutes; one that takes longer has hung.
constexpr int kMkfsTimeoutMs = 30 * 60 * 1000;

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
        text = QStringLiteral("...%1").arg(text.right(kMax));
    return text.isEmpty() ? QStringLiteral("no reason given") : text;
}

QString joinPids(const std::vector<int>& pids)
{
    QStringList list;
    for (int p : pids)
        list << QString::number(p);
    return list.join(QStringLiteral(", "));
}

// Who owned the old volume's top folder: the new one is mounted for them.
struct Owner {
    unsigned uid = 0;
    unsigned gid = 0;
};

QStringList mkfsArguments(FileSystem fs, const QString& target)
{
    return QString::fromLatin1(fileSystemRow(fs).mkfsOptions).split(u' ', Qt::SkipEmptyParts) << target;
}

// Ways to mount the new file system, best first; empty when this system has
// none, which must be known before anything is unmounted.
std::vector<MountAttempt> mountAttempts(FileSystem fs, const QString& target, bool imageFile,
                                        const QString& mountPoint, const Owner& owner)
{
    std::vector<MountAttempt> attempts;
    const QString mountTool = platform::findTool(QStringLiteral("mount"));
    // FAT and NTFS keep no owners: the mount gives every file one. The
    // volume's old owner keeps it, and nobody else may write (without this,
    // ntfs-3g as root shows every file writable by all).
    const QString ownership = QStringLiteral("uid=%1,gid=%2,umask=022").arg(owner.uid).arg(owner.gid);
    auto kernelMount = [&](const QString& type) {
        if (mountTool.isEmpty() || !platform::kernelSupports(type))
            return;
        QStringList args{QStringLiteral("-t"), type, QStringLiteral("-o"),
                         (imageFile ? QStringLiteral("loop,") : QString()) + ownership};
        args << target << mountPoint;
        attempts.push_back({mountTool, args});
    };
    if (fs != FileSystem::Ntfs) {
        kernelMount(QStringLiteral("vfat"));
        return attempts;
    }
    kernelMount(QStringLiteral("ntfs3"));
    const QString ntfs3g = platform::findTool(QStringLiteral("ntfs-3g"));
    if (!ntfs3g.isEmpty() && platform::kernelSupports(QStringLiteral("fuse")) &&
        platform::nodeKind(QStringLiteral("/dev/fuse")) != platform::NodeKind::Missing)
        attempts.push_back({ntfs3g, {QStringLiteral("-o"), ownership, target, mountPoint}});
    return attempts;
}

QString cannotMountReason(FileSystem fs)
{
    if (fs == FileSystem::Ntfs)
        return QStringLiteral("this system cannot mount an NTFS file system (neither the kernel's ntfs3 nor ntfs-3g "
                              "with FUSE is available), so the drive would be left unmounted after the format");
    return QStringLiteral("this system cannot mount a FAT file system (the kernel has no vfat support), so the "
                          "drive would be left unmounted after the format");
}

bool isFuse(const platform::MountEntry& m)
{
    return m.fsType == QStringLiteral("fuse") || m.fsType == QStringLiteral("fuseblk");
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
    return QLatin1String(fileSystemRow(fileSystem).name);
}

bool takeCallerSwitches(QStringList& args, QString& folder, QString& about)
{
    for (;;) {
        const bool isFolder = args.value(0) == QLatin1String(kPinnedFolderSwitch);
        const bool isAbout = args.value(0) == QLatin1String(kAboutSwitch);
        if (!isFolder && !isAbout)
            return true;
        QString& value = isFolder ? folder : about;
        if (args.size() < 2 || !value.isEmpty() || args[1].isEmpty() || (isFolder && !args[1].startsWith(u'/')))
            return false;
        value = args[1];
        args.remove(0, 2);
    }
}

std::optional<FormatRequest> parseFormatArguments(const QStringList& arguments)
{
    FormatRequest request;
    QStringList args = arguments;
    if (!takeCallerSwitches(args, request.pinnedFolder, request.about) || args.size() < 2)
        return std::nullopt;
    static const QRegularExpression driveRe(QStringLiteral("^[A-Za-z]:$"));
    if (!driveRe.match(args.first()).hasMatch())
        return std::nullopt;
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
            const FileSystemRow* fs = fileSystemOfSwitch(p.mid(3));
            if (!fs)
                return std::nullopt;
            request.fileSystem = fs->fileSystem;
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
    return QStringLiteral("usage: zarvexformat [--about <volume>] [--folder <folder>] <letter>: /fs:<%1>/x/y/q\n"
                          "       zarvexformat --release-reserve [--about <volume>] [--folder <folder>] <letter>:")
        .arg(fileSystemSwitchNames().join(u'|'));
}

// ntfs-3g mounts an image as "fuse" or "fuseblk"; the image starts with the
// NTFS boot sector.
static bool hasNtfsImageSignature(const platform::MountEntry& volume)
{
    if (!isFuse(volume))
        return false;
    QFile f(volume.source);
    return f.open(QIODevice::ReadOnly) && f.read(11).mid(3) == QByteArray("NTFS    ");
}

std::vector<MountAttempt> remountAttempts(const platform::MountEntry& m, const std::optional<platform::LoopDevice>& loop)
{
    const bool readOnly = m.options.split(u',').contains(QStringLiteral("ro"));
    if (isFuse(m)) {
        const QString ntfs3g = platform::findTool(QStringLiteral("ntfs-3g"));
        QStringList args;
        if (readOnly)
            args << QStringLiteral("-o") << QStringLiteral("ro");
        return {{ntfs3g, args << m.source << m.mountPoint}};
    }
    // A self-clearing loop device went with the unmount: mount sets up a new one.
    const bool viaLoop = loop && loop->autoClear;
    const QString source = viaLoop ? loop->backingFile : m.source;
    const QString prefix = viaLoop ? QStringLiteral("loop,") : QString();
    const QString mountTool = platform::findTool(QStringLiteral("mount"));
    std::vector<MountAttempt> attempts;
    // With the file system's own options first, then with the mount's alone
    // (a few of the former are shown but not accepted back).
    for (const QString& options : {m.options + u',' + m.superOptions, m.options})
        attempts.push_back({mountTool, {QStringLiteral("-t"), m.fsType, QStringLiteral("-o"), prefix + options, source,
                                        m.mountPoint}});
    return attempts;
}

namespace {

// The volume behind a drive letter, as found before anything is touched.
struct Volume {
    QString drive;      // "t:"
    QString mountPoint;
    platform::MountEntry mount;
    std::optional<platform::LoopDevice> loop;
    QString target;     // what mkfs writes: the device, or the image behind it
    bool targetIsImage = false;
    // The target, opened before the unmount and proven to be the mount's:
    // the ends, mkfs and the check before the new mount all go through it.
    std::optional<platform::HeldTarget> held;
    Owner owner;
};

struct Tools {
    QString mkfs;
    std::vector<MountAttempt> mounts;
};

HelperOutcome refusal(const QString& drive, const QString& why)
{
    return {ExitRefused, QStringLiteral("%1 was not formatted: %2").arg(drive, why)};
}

bool runUntilOne(const std::vector<MountAttempt>& attempts, QString* output)
{
    platform::ToolResult result;
    for (const MountAttempt& a : attempts) {
        result = platform::runTool(a.program, a.args);
        if (result.started && result.exitCode == 0)
            return true;
    }
    *output = oneLine(result.output);
    return false;
}

// Which volume the letter names, and whether it is one this helper may
// format at all.
std::optional<HelperOutcome> findVolume(const FormatRequest& request, Volume& v)
{
    v.drive = QString(request.letter) + u':';
    auto refuse = [&](const QString& why) { return refusal(v.drive, why); };
    if (!platform::isSuperUser())
        return refuse(QStringLiteral("formatting a drive needs root privileges (run as root, or through pkexec)"));

    const auto folder = request.pinnedFolder.isEmpty() ? platform::DriveTable::current().folderFor(request.letter)
                                                       : std::optional<QString>(request.pinnedFolder);
    if (!folder)
        return refuse(QStringLiteral("there is no drive with this letter"));
    const auto mountPoint = platform::canonicalFolder(*folder);
    if (!mountPoint)
        return refuse(QStringLiteral("%1 does not exist").arg(*folder));
    if (*mountPoint == QStringLiteral("/"))
        return refuse(QStringLiteral("it is the drive that holds the system (/)"));
    v.mountPoint = *mountPoint;

    const std::vector<platform::MountEntry> mounts = platform::allMounts();
    const platform::MountEntry* volume = platform::visibleMountAt(mounts, v.mountPoint);
    if (!volume)
        return refuse(QStringLiteral("%1 is not a mount point; only a whole mounted volume can be formatted").arg(v.mountPoint));
    v.mount = *volume;
    // Formatting works on the whole device: a mount that shows only part of
    // it (a bind mount of a folder, a btrfs subvolume) would take the rest
    // with it unseen.
    if (volume->root != QStringLiteral("/"))
        return refuse(QStringLiteral("%1 shows only %2 of its volume; only a whole volume can be formatted")
                          .arg(v.mountPoint, volume->root));
    static const QStringList systemFolders = {"/boot", "/boot/efi", "/efi", "/usr", "/var"};
    if (systemFolders.contains(v.mountPoint))
        return refuse(QStringLiteral("%1 is a part of the running system").arg(v.mountPoint));
    const platform::MountEntry* root = platform::visibleMountAt(mounts, QStringLiteral("/"));
    if (root && root->major == volume->major && root->minor == volume->minor)
        return refuse(QStringLiteral("%1 is on the volume that holds the system (/)").arg(v.mountPoint));

    const QString& source = volume->source;
    // A file behind a mount is an image only for ntfs-3g, the one image-backed
    // FUSE driver formatted here; other FUSE drivers (archives and the like)
    // name files that are no volume at all.
    if (platform::nodeKind(source) == platform::NodeKind::RegularFile && !hasNtfsImageSignature(*volume))
        return refuse(QStringLiteral("%1 is a %2 view of the file %3, which is not a disk image")
                          .arg(v.mountPoint, volume->fsType, source));

    // What the mount is really on, held from here to the end. A self-clearing
    // loop device is gone after the unmount: its image is held, formatted,
    // and mounted with a new loop device.
    v.loop = platform::loopDeviceInfo(source);
    QString why;
    v.held = platform::holdMountTarget(*volume, v.loop, &why);
    if (!v.held)
        return refuse(why);
    // The same volume seen through another folder would stay mounted there
    // while its device is overwritten.
    for (const platform::MountEntry& m : mounts) {
        if (m.mountPoint == v.mountPoint)
            continue;
        if ((m.major == volume->major && m.minor == volume->minor) || m.source == source)
            return refuse(QStringLiteral("its volume is also mounted at %1").arg(m.mountPoint));
    }

    v.target = v.held->path();
    v.targetIsImage = v.held->isImage();
    // A folder on the way that a user may change could swap the image or the
    // mount folder for another between the checks and the format.
    for (const QString& path : {v.mountPoint, v.targetIsImage ? v.target : QString()}) {
        if (path.isEmpty())
            continue;
        if (const auto open = platform::folderOthersMayChange(path))
            return refuse(QStringLiteral("%1 lies in %2, which a user other than root may change").arg(path, *open));
    }
    struct stat top {};
    if (::stat(QFile::encodeName(v.mountPoint).constData(), &top) == 0)
        v.owner = {top.st_uid, top.st_gid};
    if (!request.about.isEmpty() && request.about != platform::volumeSummary(*volume))
        return refuse(QStringLiteral("the volume is no longer the one that was approved (%1); it is now %2")
                          .arg(request.about, platform::volumeSummary(*volume)));
    return std::nullopt;
}

// Anyone but the mount itself that uses the device or its image: found
// before the unmount, so that a volume that cannot be formatted stays mounted.
std::optional<HelperOutcome> checkNotInUse(const Volume& v)
{
    // The FUSE driver serving this very mount holds the device or image too.
    const QString driver = isFuse(v.mount) ? QStringLiteral("/dev/fuse") : QString();
    QStringList held = {v.mount.source};
    if (v.loop)
        held << v.loop->backingFile;
    for (const QString& path : held) {
        const std::vector<int> pids = platform::processesHolding(path, driver);
        if (!pids.empty())
            return refusal(v.drive,
                           QStringLiteral("%1 is held open by process %2; close it and try again").arg(path, joinPids(pids)));
    }
    const QStringList users = platform::kernelUsersOf(v.mount.source);
    if (!users.isEmpty())
        return refusal(v.drive, QStringLiteral("%1 is in use by %2").arg(v.mount.source, users.join(QStringLiteral(", "))));
    // A whole disk takes its partitions with it, and their tables.
    const QStringList partitions = platform::partitionsInUse(v.mount.source);
    if (!partitions.isEmpty())
        return refusal(v.drive, QStringLiteral("%1 is a whole disk whose partitions are in use: %2")
                                    .arg(v.mount.source, partitions.join(QStringLiteral(", "))));
    return std::nullopt;
}

// The tools to make the new file system and to mount it again afterwards.
std::optional<HelperOutcome> findTools(const FormatRequest& request, const Volume& v, Tools& tools)
{
    const QString fsName = fileSystemName(request.fileSystem);
    tools.mkfs = platform::findTool(QLatin1String(fileSystemRow(request.fileSystem).mkfsTool));
    if (tools.mkfs.isEmpty())
        return refusal(v.drive, QStringLiteral("the tool to make a %1 file system is not installed").arg(fsName));
    tools.mounts = mountAttempts(request.fileSystem, v.target, v.targetIsImage, v.mountPoint, v.owner);
    if (tools.mounts.empty())
        return refusal(v.drive, cannotMountReason(request.fileSystem));
    return std::nullopt;
}

// Something failed after the unmount but before anything was written: the
// old file system goes back where it was.
HelperOutcome mountOriginalAgain(const Volume& v, const QString& why)
{
    QString output;
    if (runUntilOne(remountAttempts(v.mount, v.loop), &output))
        return refusal(v.drive, QStringLiteral("%1; it is mounted again at %2").arg(why, v.mountPoint));
    return {ExitUnmounted,
            QStringLiteral("%1 was not formatted: %2; it could not be mounted again at %3 and is not mounted now: %4")
                .arg(v.drive, why, v.mountPoint, output)};
}

// Waits until the device or image is free after the unmount; the reason
// when it stays held.
std::optional<QString> waitForRelease(const Volume& v)
{
    if (v.loop && v.loop->autoClear &&
        !waitUntil([&] {
            const auto now = platform::loopDeviceInfo(v.mount.source);
            return !now || now->backingFile != v.loop->backingFile;
        }))
        return QStringLiteral("%1 did not let go of %2").arg(v.mount.source, v.target);
    std::vector<int> holders;
    if (!waitUntil([&] { return (holders = platform::processesHolding(v.target)).empty(); }))
        return QStringLiteral("%1 is still held open by process %2").arg(v.target, joinPids(holders));
    return std::nullopt;
}

HelperOutcome unmountAndFormat(const FormatRequest& request, const Volume& v, const Tools& tools)
{
    QString why;
    switch (platform::unmountFolder(v.mountPoint, &why)) {
    case platform::UnmountResult::Done:
        break;
    case platform::UnmountResult::Busy:
        return refusal(v.drive,
                       QStringLiteral("%1 is in use; close the files and folders open on it and try again").arg(v.mountPoint));
    case platform::UnmountResult::Failed:
        return refusal(v.drive, QStringLiteral("cannot unmount %1: %2").arg(v.mountPoint, why));
    }
    if (const auto held = waitForRelease(v))
        return mountOriginalAgain(v, *held);

    // From here on the old volume is being destroyed: a failure leaves the
    // drive changed and unmounted, and says so.
    const QString fsName = fileSystemName(request.fileSystem);
    auto changed = [&](const QString& what) {
        return HelperOutcome{ExitChanged, QStringLiteral("%1; it is not mounted at %2").arg(what, v.mountPoint)};
    };
    constexpr std::uint64_t kEndBytes = 1u << 20;
    if (!v.held->overwriteEnds(kEndBytes, &why))
        return changed(QStringLiteral("%1 was unmounted and partly overwritten, but not formatted: %2").arg(v.drive, why));
    const platform::ToolResult made =
        platform::runTool(tools.mkfs, mkfsArguments(request.fileSystem, v.held->handlePath()), kMkfsTimeoutMs);
    if (made.timedOut)
        return changed(QStringLiteral("%1 was unmounted and partly overwritten; making the %2 file system did not end "
                                      "within %3 minutes and was stopped, so the drive holds no usable file system")
                           .arg(v.drive, fsName, QString::number(kMkfsTimeoutMs / 60000)));
    if (!made.started || made.exitCode != 0)
        return changed(QStringLiteral("%1 was unmounted and partly overwritten, but could not be formatted as %2: %3")
                           .arg(v.drive, fsName, oneLine(made.output)));
    // It is mounted by name: the name must still lead to what was formatted.
    if (!v.held->pathStillNamesIt())
        return changed(QStringLiteral("formatted %1 as %2, but %3 no longer names it, so it was not mounted")
                           .arg(v.drive, fsName, v.target));
    QString output;
    if (runUntilOne(tools.mounts, &output))
        return {ExitFormatted, {}};
    return {ExitChanged, QStringLiteral("formatted %1 as %2 but could not mount it at %3: %4")
                             .arg(v.drive, fsName, v.mountPoint, output)};
}

} // namespace

HelperOutcome runFormatHelper(const QStringList& args)
{
    const auto request = parseFormatArguments(args);
    if (!request)
        return {ExitUsage, formatUsage()};
    Volume volume;
    Tools tools;
    if (auto refused = findVolume(*request, volume))
        return *refused;
    if (auto refused = checkNotInUse(volume))
        return *refused;
    if (auto refused = findTools(*request, volume, tools))
        return *refused;
    return unmountAndFormat(*request, volume, tools);
}

} // namespace format
