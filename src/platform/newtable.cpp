#include "platform/newtable.h"
#include "platform/blocking.h"
#include "platform/directio.h"
#include "platform/errors.h"
#include "platform/tools.h"
#include "platform/wholedisk.h"

#include <QFileInfo>
#include <QUuid>
#include <array>
#include <cstdlib>
#include <cstring>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>

namespace platform {

namespace {

// Each file system a new partition can take: its mkfs, how that is told the
// label and to go on without asking, and the partition type GPT gives it.
struct FileSystemRow {
    const char* name;
    const char* mkfs;
    QStringList (*arguments)(const QString& label);
    const char* partitionType;
};
const FileSystemRow kFileSystems[] = {
    {"ext4", "mkfs.ext4", [](const QString& l) { return QStringList{"-q", "-F", "-L", l.left(16)}; },
     "0FC63DAF-8483-4772-8E79-3D69D8477DE4"},
    {"exfat", "mkfs.exfat", [](const QString& l) { return QStringList{"-n", l.left(11)}; },
     "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
    {"ntfs", "mkfs.ntfs", [](const QString& l) { return QStringList{"-Q", "-F", "-L", l.left(32)}; },
     "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
};

const FileSystemRow* rowOf(const QString& fileSystem)
{
    for (const FileSystemRow& r : kFileSystems)
        if (fileSystem == QLatin1String(r.name))
            return &r;
    return nullptr;
}

constexpr std::uint32_t kEntries = 128, kEntrySize = 128;
constexpr std::uint64_t kAlign = 1u << 20; // partitions begin and end on whole MiB

std::uint32_t crc32(const char* data, std::size_t size)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t {};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = table[(c ^ std::uint8_t(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// A GUID as GPT stores it: its first three fields little-endian.
QByteArray onDisk(const QUuid& id)
{
    QByteArray b = id.toRfc4122();
    std::reverse(b.begin(), b.begin() + 4);
    std::reverse(b.begin() + 4, b.begin() + 6);
    std::reverse(b.begin() + 6, b.begin() + 8);
    return b;
}

template <typename T>
void put(QByteArray& to, qsizetype at, T value)
{
    std::memcpy(to.data() + at, &value, sizeof value); // little-endian, as GPT is
}

QByteArray header(std::uint64_t self, std::uint64_t backup, std::uint64_t firstUsable, std::uint64_t lastUsable,
                  const QByteArray& diskId, std::uint64_t entriesAt, std::uint32_t entriesCrc, std::uint32_t sector)
{
    QByteArray h(sector, '\0');
    h.replace(0, 8, "EFI PART");
    put<std::uint32_t>(h, 8, 0x00010000);
    put<std::uint32_t>(h, 12, 92);
    put<std::uint64_t>(h, 24, self);
    put<std::uint64_t>(h, 32, backup);
    put<std::uint64_t>(h, 40, firstUsable);
    put<std::uint64_t>(h, 48, lastUsable);
    h.replace(56, 16, diskId);
    put<std::uint64_t>(h, 72, entriesAt);
    put<std::uint32_t>(h, 80, kEntries);
    put<std::uint32_t>(h, 84, kEntrySize);
    put<std::uint32_t>(h, 88, entriesCrc);
    put<std::uint32_t>(h, 16, crc32(h.constData(), 92));
    return h;
}

// Writes `bytes` at sector `lba` through the disk's direct descriptor.
void writeAt(WholeDisk& disk, std::uint64_t lba, const QByteArray& bytes)
{
    const std::size_t size = bytes.size();
    const AlignedBuffer buffer = alignedBuffer(size);
    if (!buffer)
        throw std::bad_alloc();
    std::memcpy(buffer.get(), bytes.constData(), size);
    disk.write(buffer.get(), size, lba * disk.sectorSize());
}

// The device of a disk's first partition: "sda1", "nvme0n1p1", "loop0p1".
QString firstPartition(const QString& device)
{
    return device + (device.back().isDigit() ? QStringLiteral("p1") : QStringLiteral("1"));
}

} // namespace

QStringList newTableFileSystems()
{
    QStringList names;
    for (const FileSystemRow& r : kFileSystems)
        if (!findTool(QLatin1String(r.mkfs)).isEmpty())
            names << QLatin1String(r.name);
    return names;
}

NewTable writeNewTable(WholeDisk& disk, const QString& fileSystem, const QString& label)
{
    const FileSystemRow* fs = rowOf(fileSystem);
    if (!fs)
        throw RunTimeError(ErrRefused, QStringLiteral("%1 is no file system a new partition can take").arg(fileSystem));
    const std::uint32_t sector = disk.sectorSize();
    const std::uint64_t sectors = disk.bytes() / sector, last = sectors - 1;
    const std::uint64_t entrySectors = (kEntries * kEntrySize + sector - 1) / sector;
    const std::uint64_t firstUsable = 2 + entrySectors, lastUsable = last - 1 - entrySectors;
    NewTable t;
    t.firstSector = kAlign / sector;
    t.lastSector = ((lastUsable + 1) * sector / kAlign * kAlign) / sector - 1;
    if (t.lastSector <= t.firstSector)
        throw RunTimeError(ErrRefused, QStringLiteral("%1 is too small for a partition").arg(disk.device()));

    QByteArray entries(entrySectors * sector, '\0');
    entries.replace(0, 16, onDisk(QUuid(QLatin1String(fs->partitionType))));
    entries.replace(16, 16, onDisk(QUuid::createUuid()));
    put<std::uint64_t>(entries, 32, t.firstSector);
    put<std::uint64_t>(entries, 40, t.lastSector);
    const QString name = label.left(36);
    for (qsizetype i = 0; i < name.size(); ++i)
        put<std::uint16_t>(entries, 56 + 2 * i, name[i].unicode());
    const std::uint32_t entriesCrc = crc32(entries.constData(), kEntries * kEntrySize);
    const QByteArray diskId = onDisk(QUuid::createUuid());

    // The protective MBR: one partition of type 0xEE over the whole disk.
    QByteArray mbr(sector, '\0');
    mbr[446 + 1] = 0x00, mbr[446 + 2] = 0x02, mbr[446 + 4] = char(0xEE);
    mbr[446 + 5] = char(0xFF), mbr[446 + 6] = char(0xFF), mbr[446 + 7] = char(0xFF);
    put<std::uint32_t>(mbr, 446 + 8, 1);
    put<std::uint32_t>(mbr, 446 + 12, std::uint32_t(std::min<std::uint64_t>(last, 0xFFFFFFFFu)));
    mbr[510] = 0x55, mbr[511] = char(0xAA);

    writeAt(disk, 0, mbr + header(1, last, firstUsable, lastUsable, diskId, 2, entriesCrc, sector) + entries);
    writeAt(disk, last - entrySectors,
            entries + header(last, 1, firstUsable, lastUsable, diskId, last - entrySectors, entriesCrc, sector));
    disk.flush();
    // The kernel reads the new table; a kernel that reads none (or a disk
    // it cannot) shows no partition, and that is said by the caller.
    runBlocking([&] { ::ioctl(disk.descriptor(), BLKRRPART); });
    const QString partition = firstPartition(disk.device());
    // The kernel lists the partition at once when it read the table; its
    // device file may come a moment later.
    const bool listed = QFileInfo::exists(QStringLiteral("/sys/class/block/") + partition.mid(5));
    for (int tries = 0; listed && tries < 50 && !QFileInfo::exists(partition); ++tries)
        runBlocking([] { sleepMs(100); });
    if (QFileInfo::exists(partition))
        t.partition = partition;
    return t;
}

void makeFileSystem(const QString& partition, const QString& fileSystem, const QString& label)
{
    const FileSystemRow* fs = rowOf(fileSystem);
    const QString mkfs = fs ? findTool(QLatin1String(fs->mkfs)) : QString();
    if (mkfs.isEmpty())
        throw RunTimeError(ErrFileNotFound, QStringLiteral("no mkfs for %1 is installed").arg(fileSystem));
    const ToolResult r = runBlocking([&] { return runTool(mkfs, fs->arguments(label) << partition); });
    if (r.exitCode != 0)
        throw RunTimeError(ErrDeviceIO, QStringLiteral("%1 %2 failed: %3").arg(mkfs, partition, r.output.trimmed()));
}

} // namespace platform
