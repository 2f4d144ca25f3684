#include "platform/deviceerase.h"
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/wholedisk.h"

#include <QDir>
#include <array>
#include <cerrno>
#include <cstring>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <thread>

namespace platform {

namespace {

// NVMe admin commands and the Identify fields they are read from.
constexpr std::uint8_t kGetLogPage = 0x02, kIdentify = 0x06, kFormatNvm = 0x80, kSanitize = 0x84;
constexpr std::uint32_t kIdentifyNamespace = 0, kIdentifyController = 1;
constexpr std::size_t kOacs = 256, kSanicap = 328, kFna = 524; // controller
constexpr std::size_t kFlbas = 26, kDlfeat = 33;                // namespace
constexpr std::uint32_t kSanitizeStatusLog = 0x81;
constexpr std::uint32_t kAllNamespaces = 0xFFFFFFFF;
constexpr std::uint32_t kEraseTimeoutMs = 4 * 3600 * 1000; // a large drive's format can take hours

// Each erase: its name, and how the device is asked for it.
struct EraseRow {
    DeviceErase erase;
    const char* name;
    bool sanitize;
    std::uint32_t action; // Sanitize: SANACT; Format NVM: SES
};
constexpr EraseRow kErases[] = {
    {DeviceErase::NvmeSanitizeCrypto, "NVMe Sanitize (crypto erase)", true, 4},
    {DeviceErase::NvmeSanitizeBlock, "NVMe Sanitize (block erase)", true, 2},
    {DeviceErase::NvmeFormatCrypto, "NVMe Format with Secure Erase (crypto erase)", false, 2},
    {DeviceErase::NvmeFormatUserData, "NVMe Format with Secure Erase (user data erase)", false, 1},
};

const EraseRow& rowOf(DeviceErase erase)
{
    for (const EraseRow& r : kErases)
        if (r.erase == erase)
            return r;
    return kErases[0];
}

// An admin command; the NVMe status (0: success), or -errno when the
// kernel did not pass it on.
int admin(int fd, nvme_admin_cmd cmd)
{
    const int rc = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    return rc < 0 ? -errno : rc;
}

int identify(int fd, std::uint32_t nsid, std::uint32_t cns, std::array<std::uint8_t, 4096>& data)
{
    nvme_admin_cmd cmd {};
    cmd.opcode = kIdentify;
    cmd.nsid = nsid;
    cmd.addr = reinterpret_cast<std::uintptr_t>(data.data());
    cmd.data_len = data.size();
    cmd.cdw10 = cns;
    return admin(fd, cmd);
}

template <typename T>
T field(const std::array<std::uint8_t, 4096>& data, std::size_t at)
{
    T value {};
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

RunTimeError refusedByDevice(const QString& device, const char* what, int status)
{
    const QString why = status < 0 ? QString::fromLocal8Bit(std::strerror(-status))
                                   : QStringLiteral("NVMe status 0x%1").arg(status, 0, 16);
    return RunTimeError(ErrDeviceIO, QStringLiteral("%1: %2 was refused: %3").arg(device, QLatin1String(what), why));
}

// The other namespaces of the same controller ("nvme0n2" beside "nvme0n1").
QStringList otherNamespaces(const QString& name)
{
    const QString controller = name.left(name.lastIndexOf(u'n') + 1);
    QStringList others = QDir(QStringLiteral("/sys/block")).entryList({controller + u'*'}, QDir::Dirs | QDir::System);
    others.removeAll(name);
    return others;
}

} // namespace

QString eraseName(DeviceErase erase)
{
    return QLatin1String(rowOf(erase).name);
}

EraseFacts eraseFactsOf(const Disk& disk)
{
    EraseFacts facts;
    if (disk.transport != QStringLiteral("NVMe")) {
        facts.none = QStringLiteral("only NVMe drives' own erase commands are known to this program");
        return facts;
    }
    const Fd fd(disk.device, O_RDONLY | O_NONBLOCK);
    std::array<std::uint8_t, 4096> controller {}, ns {};
    const int nsid = fd.fd >= 0 ? ::ioctl(fd.fd, NVME_IOCTL_ID) : -1;
    if (nsid <= 0 || identify(fd.fd, 0, kIdentifyController, controller) != 0 ||
        identify(fd.fd, std::uint32_t(nsid), kIdentifyNamespace, ns) != 0) {
        facts.none = QStringLiteral("the drive's Identify data could not be read (it needs root)");
        return facts;
    }
    const auto sanicap = field<std::uint32_t>(controller, kSanicap);
    const auto oacs = field<std::uint16_t>(controller, kOacs);
    const auto fna = field<std::uint8_t>(controller, kFna);
    if (sanicap & 0x1)
        facts.offered << DeviceErase::NvmeSanitizeCrypto;
    if (sanicap & 0x2)
        facts.offered << DeviceErase::NvmeSanitizeBlock;
    if ((oacs & 0x2) && (fna & 0x4))
        facts.offered << DeviceErase::NvmeFormatCrypto;
    if (oacs & 0x2)
        facts.offered << DeviceErase::NvmeFormatUserData;
    if (facts.offered.isEmpty())
        facts.none = QStringLiteral("the drive offers neither Sanitize nor Format NVM");
    const int reads = ns[kDlfeat] & 0x7;
    facts.erasedReads = reads == 1 ? 0x00 : reads == 2 ? 0xFF : -1;
    // Sanitize reaches the whole drive; a secure Format every namespace when
    // the controller says so.
    const bool reachesAll = (sanicap & 0x3) || (fna & 0x2);
    if (reachesAll)
        facts.alsoReached = otherNamespaces(disk.name);
    return facts;
}

void runDeviceErase(WholeDisk& disk, DeviceErase erase, const std::function<void(double)>& progress)
{
    const EraseRow& row = rowOf(erase);
    const int fd = disk.descriptor();
    if (!row.sanitize) {
        const int nsid = ::ioctl(fd, NVME_IOCTL_ID);
        std::array<std::uint8_t, 4096> ns {};
        if (nsid <= 0 || identify(fd, std::uint32_t(nsid), kIdentifyNamespace, ns) != 0)
            throw refusedByDevice(disk.device(), "Identify", nsid <= 0 ? -errno : -EIO);
        // The block format stays the one in use.
        const std::uint32_t format = (ns[kFlbas] & 0x0F) | ((ns[kFlbas] & 0x60) >> 1);
        nvme_admin_cmd cmd {};
        cmd.opcode = kFormatNvm;
        cmd.nsid = std::uint32_t(nsid);
        cmd.cdw10 = (format & 0x0F) | (row.action << 9) | ((format & 0x30) << 8);
        cmd.timeout_ms = kEraseTimeoutMs;
        const int status = runBlocking([&] { return admin(fd, cmd); });
        if (status != 0)
            throw refusedByDevice(disk.device(), row.name, status);
        progress(1.0);
        return;
    }
    nvme_admin_cmd cmd {};
    cmd.opcode = kSanitize;
    cmd.cdw10 = row.action;
    const int status = runBlocking([&] { return admin(fd, cmd); });
    if (status != 0)
        throw refusedByDevice(disk.device(), row.name, status);
    // The drive sanitizes in the background: its status log says how far.
    // One that still says it never sanitized after a minute did not start.
    for (int polls = 0;; ++polls) {
        std::array<std::uint8_t, 4096> log {};
        nvme_admin_cmd get {};
        get.opcode = kGetLogPage;
        get.nsid = kAllNamespaces;
        get.addr = reinterpret_cast<std::uintptr_t>(log.data());
        get.data_len = 512;
        get.cdw10 = kSanitizeStatusLog | ((512 / 4 - 1) << 16);
        const int got = runBlocking([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return admin(fd, get);
        });
        if (got != 0)
            throw refusedByDevice(disk.device(), "the Sanitize status log", got);
        const int state = field<std::uint16_t>(log, 2) & 0x7;
        if (state == 1)
            break; // completed
        if (state == 0 && polls > 120)
            throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive never began %2").arg(disk.device(), QLatin1String(row.name)));
        if (state == 3)
            throw RunTimeError(ErrDeviceIO, QStringLiteral("%1: the drive says %2 failed").arg(disk.device(), QLatin1String(row.name)));
        progress(field<std::uint16_t>(log, 0) / 65536.0);
    }
    progress(1.0);
}

} // namespace platform
