#include "platform/fstraits.h"
#include "platform/fd.h"
#include "platform/mounts.h"
#include "platform/tools.h"

#include <QFile>
#include <QRegularExpression>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

QString option(const QString& options, const QString& name)
{
    for (const QString& o : options.split(u','))
        if (o.startsWith(name + u'='))
            return o.mid(name.size() + 1);
    return {};
}

bool readAt(int fd, std::uint64_t offset, void* buffer, std::size_t size)
{
    return ::pread(fd, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

template <typename T>
T le(const unsigned char* p)
{
    T v{};
    std::memcpy(&v, p, sizeof v); // NTFS is little-endian, as is every machine this runs on
    return v;
}

bool isNtfs(const QString& source)
{
    Fd dev(source, O_RDONLY);
    char oem[8] = {};
    return dev.fd >= 0 && readAt(dev.fd, 3, oem, sizeof oem) && std::memcmp(oem, "NTFS    ", 8) == 0;
}

// btrfs compresses by mount option or by the folder's property; NTFS by
// the compressed attribute of the folder, which new files inherit.
QString compressionOf(const QString& folder, const MountEntry& m, const QString& fsType)
{
    const QByteArray path = QFile::encodeName(folder);
    if (fsType == QStringLiteral("btrfs")) {
        for (const char* name : {"compress-force", "compress"}) {
            const QString value = option(m.superOptions + u',' + m.options, QLatin1String(name));
            if (!value.isEmpty() && value != QStringLiteral("no"))
                return QStringLiteral("%1=%2").arg(QLatin1String(name), value);
        }
        char value[64] = {};
        const ssize_t n = ::getxattr(path.constData(), "btrfs.compression", value, sizeof value - 1);
        if (n > 0 && std::strcmp(value, "no") != 0 && std::strcmp(value, "none") != 0)
            return QStringLiteral("compression property %1").arg(QString::fromLatin1(value, int(n)));
    }
    if (fsType == QStringLiteral("ntfs")) {
        std::uint32_t attributes = 0;
        constexpr std::uint32_t kCompressed = 0x800;
        if (::getxattr(path.constData(), "system.ntfs_attrib", &attributes, sizeof attributes) == sizeof attributes &&
            (attributes & kCompressed))
            return QStringLiteral("compressed attribute");
    }
    Fd dir(folder, O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (dir.fd >= 0 && ::ioctl(dir.fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_COMPR_FL))
        return QStringLiteral("compressed attribute");
    return {};
}

QStringList btrfsSnapshots(const QString& mountPoint)
{
    // "ID 258 gen 9 cgen 9 top level 5 otime 2026-12-06 22:50:01 path snap"
    const QString tool = findTool(QStringLiteral("btrfs"));
    if (tool.isEmpty())
        return {};
    const ToolResult r = runTool(tool, {QStringLiteral("subvolume"), QStringLiteral("list"), QStringLiteral("-s"), mountPoint});
    QStringList snapshots;
    if (r.exitCode != 0)
        return snapshots;
    static const QRegularExpression path(QStringLiteral(" path (.+)$"));
    for (const QString& line : r.output.split(u'\n')) {
        const auto match = path.match(line);
        if (match.hasMatch())
            snapshots << match.captured(1);
    }
    return snapshots;
}

} // namespace

FileSystemTraits fileSystemTraits(const QString& folder)
{
    FileSystemTraits facts;
    const auto mountPoint = mountPointHolding(folder);
    if (!mountPoint)
        return facts;
    MountEntry mount;
    for (const MountEntry& m : allMounts())
        if (m.mountPoint == *mountPoint)
            mount = m; // a later mount on the same place hides an earlier one
    facts.source = mount.source;
    facts.fsType = mount.fsType;
    if (facts.fsType == QStringLiteral("ntfs3") ||
        (facts.fsType.startsWith(QStringLiteral("fuse")) && isNtfs(mount.source)))
        facts.fsType = QStringLiteral("ntfs");
    facts.compression = compressionOf(folder, mount, facts.fsType);
    if (facts.fsType == QStringLiteral("btrfs"))
        facts.snapshots = btrfsSnapshots(*mountPoint);
    return facts;
}

namespace {

// Where the boot sector puts the table, and its units.
struct NtfsGeometry {
    std::uint64_t sector = 0;
    std::uint64_t cluster = 0;
    std::uint64_t recordBytes = 0;
    std::uint64_t tableAt = 0;
};

std::optional<NtfsGeometry> ntfsGeometry(int fd)
{
    std::array<unsigned char, 512> boot{};
    if (!readAt(fd, 0, boot.data(), boot.size()) || std::memcmp(&boot[3], "NTFS    ", 8) != 0)
        return std::nullopt;
    NtfsGeometry g;
    g.sector = le<std::uint16_t>(&boot[0x0b]);
    const unsigned perCluster = boot[0x0d];
    g.cluster = g.sector * (perCluster > 0x80 ? (1u << (256 - perCluster)) : perCluster);
    const auto recordSize = static_cast<std::int8_t>(boot[0x40]);
    g.recordBytes = recordSize < 0 ? (1ull << -recordSize) : recordSize * g.cluster;
    if (g.sector < 256 || g.cluster == 0 || g.recordBytes < 1024 || g.recordBytes > 65536)
        return std::nullopt;
    g.tableAt = le<std::uint64_t>(&boot[0x30]) * g.cluster;
    return g;
}

// Record 0 describes the table itself; its sectors end in the update
// sequence, which is put back before the record is read.
std::optional<std::vector<unsigned char>> tableRecord(int fd, const NtfsGeometry& g)
{
    std::vector<unsigned char> rec(g.recordBytes);
    if (!readAt(fd, g.tableAt, rec.data(), rec.size()) || std::memcmp(rec.data(), "FILE", 4) != 0)
        return std::nullopt;
    const unsigned usaAt = le<std::uint16_t>(&rec[4]), usaCount = le<std::uint16_t>(&rec[6]);
    for (unsigned i = 1; i < usaCount && usaAt + 2 * i + 1 < rec.size() && i * g.sector <= rec.size(); ++i) {
        rec[i * g.sector - 2] = rec[usaAt + 2 * i];
        rec[i * g.sector - 1] = rec[usaAt + 2 * i + 1];
    }
    return rec;
}

// A non-resident bitmap: runs of a header byte giving the widths of length
// and (signed, relative) start, then the two numbers. False for a sparse or
// unreadable bitmap: no count to trust.
bool readBitmapRuns(int fd, const std::vector<unsigned char>& rec, std::size_t at, std::uint32_t length,
                    std::uint64_t cluster, std::vector<unsigned char>& bitmap)
{
    const auto dataSize = le<std::uint64_t>(&rec[at + 0x30]);
    std::size_t p = at + le<std::uint16_t>(&rec[at + 0x20]);
    std::int64_t lcn = 0;
    while (p < at + length && rec[p] != 0 && bitmap.size() < dataSize) {
        const unsigned lenBytes = rec[p] & 0x0f, offBytes = rec[p] >> 4;
        if (lenBytes == 0 || lenBytes > 8 || offBytes > 8 || p + 1 + lenBytes + offBytes > at + length)
            return false;
        std::uint64_t runLength = 0;
        for (unsigned i = 0; i < lenBytes; ++i)
            runLength |= std::uint64_t(rec[p + 1 + i]) << (8 * i);
        std::int64_t delta = 0;
        for (unsigned i = 0; i < offBytes; ++i)
            delta |= std::int64_t(rec[p + 1 + lenBytes + i]) << (8 * i);
        if (offBytes > 0 && (rec[p + lenBytes + offBytes] & 0x80))
            delta -= std::int64_t(1) << (8 * offBytes); // sign-extend
        lcn += delta;
        p += 1 + lenBytes + offBytes;
        const std::uint64_t take = std::min<std::uint64_t>(runLength * cluster, dataSize - bitmap.size());
        std::vector<unsigned char> run(take);
        if (offBytes == 0 || !readAt(fd, std::uint64_t(lcn) * cluster, run.data(), run.size()))
            return false;
        bitmap.insert(bitmap.end(), run.begin(), run.end());
    }
    return true;
}

// The table's unnamed data (its sizes) and its bitmap, from the record's
// attributes; false when the bitmap cannot be read.
bool readTableAttributes(int fd, const std::vector<unsigned char>& rec, std::uint64_t cluster, NtfsTable& t,
                         std::vector<unsigned char>& bitmap)
{
    for (std::size_t at = le<std::uint16_t>(&rec[0x14]); at + 0x40 <= rec.size();) {
        const auto type = le<std::uint32_t>(&rec[at]);
        const auto length = le<std::uint32_t>(&rec[at + 4]);
        if (type == 0xffffffff || length == 0)
            break;
        const bool nonResident = rec[at + 8] != 0;
        if (type == 0x80 && nonResident && rec[at + 9] == 0) { // the unnamed data
            t.allocatedBytes = le<std::uint64_t>(&rec[at + 0x28]);
            t.dataBytes = le<std::uint64_t>(&rec[at + 0x30]);
        } else if (type == 0xb0 && !nonResident) {
            const auto size = le<std::uint32_t>(&rec[at + 0x10]);
            const auto offset = le<std::uint16_t>(&rec[at + 0x14]);
            if (at + offset + size <= rec.size())
                bitmap.assign(rec.begin() + long(at + offset), rec.begin() + long(at + offset + size));
        } else if (type == 0xb0 && !readBitmapRuns(fd, rec, at, length, cluster, bitmap)) {
            return false;
        }
        at += length;
    }
    return true;
}

} // namespace

std::optional<NtfsTable> ntfsTable(const QString& source)
{
    Fd dev(source, O_RDONLY);
    const auto geometry = dev.fd < 0 ? std::nullopt : ntfsGeometry(dev.fd);
    if (!geometry)
        return std::nullopt;
    const auto rec = tableRecord(dev.fd, *geometry);
    NtfsTable t;
    t.recordBytes = geometry->recordBytes;
    std::vector<unsigned char> bitmap;
    if (!rec || !readTableAttributes(dev.fd, *rec, geometry->cluster, t, bitmap))
        return std::nullopt;
    if (t.allocatedBytes == 0 || bitmap.empty())
        return std::nullopt;
    // The first 64 records are the file system's own: the first 24 by the
    // format, the rest kept back by the driver (ntfs-3g) for the table's own
    // extension records. Files never get them.
    constexpr std::uint64_t kReserved = 64;
    const std::uint64_t records = std::min<std::uint64_t>(t.allocatedBytes / t.recordBytes, bitmap.size() * 8);
    for (std::uint64_t r = kReserved; r < records; ++r)
        if (!(bitmap[r / 8] & (1u << (r % 8))))
            ++t.freeRecords;
    return t;
}

void syncVolume(const QString& folder)
{
    Fd dir(folder, O_RDONLY | O_DIRECTORY);
    if (dir.fd >= 0)
        ::syncfs(dir.fd);
}

} // namespace platform
