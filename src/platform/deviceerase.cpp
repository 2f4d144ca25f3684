#include "platform/deviceerase.h"
#include "platform/ataerase.h"
#include "platform/scsisanitize.h"
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/wholedisk.h"

#include <QDir>
#include <algorithm>
#include <linux/fs.h>
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

// Which command family an erase belongs to.
enum class Family { Nvme, Ata, Scsi, Kernel };

// Each erase: its name, its guideline name, and how the device is asked
// for it (NVMe Sanitize: SANACT; Format NVM: SES; SCSI SANITIZE: the
// service action).
struct EraseRow {
    DeviceErase erase;
    const char* name;
    const char* guideline;
    Family family;
    std::uint32_t action;
    bool nvmeSanitize;
};
constexpr EraseRow kErases[] = {
    {DeviceErase::NvmeSanitizeCrypto, "NVMe Sanitize (crypto erase)", "Purge", Family::Nvme, 4, true},
    {DeviceErase::NvmeSanitizeBlock, "NVMe Sanitize (block erase)", "Purge", Family::Nvme, 2, true},
    {DeviceErase::NvmeFormatCrypto, "NVMe Format with Secure Erase (crypto erase)", "Purge", Family::Nvme, 2, false},
    {DeviceErase::NvmeFormatUserData, "NVMe Format with Secure Erase (user data erase)", "Purge", Family::Nvme, 1, false},
    {DeviceErase::ScsiSanitizeCrypto, "SCSI SANITIZE (crypto erase)", "Purge", Family::Scsi, 3, false},
    {DeviceErase::ScsiSanitizeBlock, "SCSI SANITIZE (block erase)", "Purge", Family::Scsi, 2, false},
    {DeviceErase::AtaSecurityEraseEnhanced, "ATA SECURITY ERASE UNIT (enhanced)", "Purge", Family::Ata, 0, false},
    {DeviceErase::ScsiSanitizeOverwrite, "SCSI SANITIZE (overwrite with zeros)", "Purge", Family::Scsi, 1, false},
    {DeviceErase::AtaSecurityErase, "ATA SECURITY ERASE UNIT (normal)", "Purge", Family::Ata, 0, false},
    {DeviceErase::SecureDiscard, "secure discard (BLKSECDISCARD), then zeros the device writes", "Clear", Family::Kernel,
     0, false},
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

// An erase a disk offers, and the byte its blocks read as afterwards (-1:
// not known, so it cannot be read back).
struct Offer {
    DeviceErase erase;
    int reads;
};
struct Found {
    QList<Offer> offers;
    QString none;
    QStringList alsoReached;
};

Found nvmeOffers(const Disk& disk)
{
    Found found;
    const Fd fd(disk.device, O_RDONLY | O_NONBLOCK);
    std::array<std::uint8_t, 4096> controller {}, ns {};
    const int nsid = fd.fd >= 0 ? ::ioctl(fd.fd, NVME_IOCTL_ID) : -1;
    if (nsid <= 0 || identify(fd.fd, 0, kIdentifyController, controller) != 0 ||
        identify(fd.fd, std::uint32_t(nsid), kIdentifyNamespace, ns) != 0) {
        found.none = QStringLiteral("the drive's NVMe Identify data could not be read (it needs root)");
        return found;
    }
    const auto sanicap = field<std::uint32_t>(controller, kSanicap);
    const auto oacs = field<std::uint16_t>(controller, kOacs);
    const auto fna = field<std::uint8_t>(controller, kFna);
    // What a deallocated block reads as, which every erase leaves.
    const int dlfeat = ns[kDlfeat] & 0x7;
    const int reads = dlfeat == 1 ? 0x00 : dlfeat == 2 ? 0xFF : -1;
    const std::pair<bool, DeviceErase> offers[] = {
        {(sanicap & 0x1) != 0, DeviceErase::NvmeSanitizeCrypto},
        {(sanicap & 0x2) != 0, DeviceErase::NvmeSanitizeBlock},
        {(oacs & 0x2) && (fna & 0x4), DeviceErase::NvmeFormatCrypto},
        {(oacs & 0x2) != 0, DeviceErase::NvmeFormatUserData},
    };
    for (const auto& [offered, erase] : offers)
        if (offered)
            found.offers << Offer{erase, reads};
    if (found.offers.isEmpty())
        found.none = QStringLiteral("the drive offers neither NVMe Sanitize nor Format NVM");
    // Sanitize reaches the whole drive; a secure Format every namespace when
    // the controller says so.
    if ((sanicap & 0x3) || (fna & 0x2))
        found.alsoReached = otherNamespaces(disk.name);
    return found;
}

// A normal erase writes zeros; an enhanced one the maker's own pattern.
Found ataOffers(const Disk& disk)
{
    Found found;
    const Fd fd(disk.device, O_RDONLY | O_NONBLOCK);
    AtaBlock id {};
    if (fd.fd < 0 || !ataIdentify(fd.fd, id)) {
        found.none = QStringLiteral("it %1").arg(QLatin1String(kNoIdentifyAnswer));
        return found;
    }
    const AtaSecurity security = ataSecurityOf(id);
    if (security.enhanced)
        found.offers << Offer{DeviceErase::AtaSecurityEraseEnhanced, -1};
    if (security.normal)
        found.offers << Offer{DeviceErase::AtaSecurityErase, 0x00};
    found.none = security.none;
    return found;
}

// The overwrite writes zeros; what erased blocks read as the standard
// leaves to the maker.
Found scsiOffers(const Disk& disk)
{
    Found found;
    const Fd fd(disk.device, O_RDONLY | O_NONBLOCK);
    const ScsiSanitize sanitize = fd.fd >= 0 ? scsiSanitizeOf(fd.fd) : ScsiSanitize{};
    if (sanitize.cryptoErase)
        found.offers << Offer{DeviceErase::ScsiSanitizeCrypto, -1};
    if (sanitize.blockErase)
        found.offers << Offer{DeviceErase::ScsiSanitizeBlock, -1};
    if (sanitize.overwrite)
        found.offers << Offer{DeviceErase::ScsiSanitizeOverwrite, 0x00};
    found.none = fd.fd < 0 ? QStringLiteral("it could not be opened to ask for SANITIZE") : sanitize.none;
    return found;
}

// Asked with a secure discard of no sectors, on the disk held exclusively
// and flushed first (the kernel drops the disk's cached pages for it).
// Zeros follow the discard, so the blocks read as zeros.
Found secureDiscardOffer(const Disk& disk)
{
    Found found;
    const Fd fd(disk.device, O_WRONLY | O_EXCL | O_NONBLOCK);
    if (fd.fd < 0) {
        found.none = errno == EBUSY ? QStringLiteral("whether it takes a secure discard cannot be asked while it is in use")
                                    : QStringLiteral("whether it takes a secure discard could not be asked: %1")
                                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return found;
    }
    std::uint64_t nothing[2] = {0, 0};
    if (::fsync(fd.fd) == 0 && ::ioctl(fd.fd, BLKSECDISCARD, nothing) == 0)
        found.offers << Offer{DeviceErase::SecureDiscard, 0x00};
    else
        found.none = errno == EOPNOTSUPP ? QStringLiteral("it takes no secure discard (BLKSECDISCARD)")
                                         : QStringLiteral("whether it takes a secure discard could not be asked: %1")
                                               .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return found;
}

// Which commands are asked of which disk: a drive's own by how it is
// attached (SCSI commands reach every disk of the SCSI layer, "sd"), the
// kernel's of every disk.
struct FamilyRule {
    bool (*asks)(const Disk& disk);
    Found (*ask)(const Disk& disk);
};
constexpr FamilyRule kFamilies[] = {
    {[](const Disk& d) { return d.transport == QStringLiteral("NVMe"); }, nvmeOffers},
    {speaksAta, ataOffers},
    {[](const Disk& d) { return d.name.startsWith(u"sd"); }, scsiOffers},
    {[](const Disk&) { return true; }, secureDiscardOffer},
};

void eraseByKernel(WholeDisk& disk, const std::function<void(double)>& progress)
{
    constexpr std::uint64_t kStep = 64u << 20;
    const int fd = disk.descriptor();
    const std::uint64_t total = disk.bytes();
    for (std::uint64_t done = 0; done < total; done += kStep) {
        std::uint64_t range[2] = {done, std::min(kStep, total - done)};
        // errno is the worker thread's: it comes back as the result.
        const int err = runBlocking([&] { return ::ioctl(fd, BLKSECDISCARD, range) == 0 ? 0 : errno; });
        if (err != 0)
            throw errorFromErrno(err, disk.device(), QStringLiteral("secure discard at byte %1").arg(done));
        progress(0.5 * double(done + range[1]) / double(total));
    }
    for (std::uint64_t done = 0; done < total; done += kStep) {
        disk.zeroOut(done, std::min(kStep, total - done));
        progress(0.5 + 0.5 * double(std::min(done + kStep, total)) / double(total));
    }
}

} // namespace

QString eraseName(DeviceErase erase)
{
    return QLatin1String(rowOf(erase).name);
}

QString eraseGuideline(DeviceErase erase)
{
    return QLatin1String(rowOf(erase).guideline);
}

EraseFacts eraseFactsOf(const Disk& disk)
{
    EraseFacts facts;
    QList<Offer> offers;
    bool driveAsked = false;
    for (const FamilyRule& family : kFamilies) {
        if (!family.asks(disk))
            continue;
        driveAsked = driveAsked || family.ask != secureDiscardOffer;
        Found found = family.ask(disk);
        offers << found.offers;
        if (found.offers.isEmpty())
            facts.none << found.none;
        facts.alsoReached << found.alsoReached;
    }
    if (!driveAsked)
        facts.none.prepend(QStringLiteral("it is no NVMe, ATA or SCSI drive, which have erase commands of their own"));
    std::sort(offers.begin(), offers.end(), [](const Offer& a, const Offer& b) { return a.erase < b.erase; });
    for (const Offer& offer : offers) {
        facts.offered << offer.erase;
        if (!facts.chosen && offer.reads >= 0) {
            facts.chosen = offer.erase;
            facts.erasedReads = offer.reads;
        }
    }
    return facts;
}

namespace {

void eraseNvme(WholeDisk& disk, const EraseRow& row, const std::function<void(double)>& progress)
{
    const int fd = disk.descriptor();
    if (!row.nvmeSanitize) {
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

} // namespace

void runDeviceErase(WholeDisk& disk, DeviceErase erase, const std::function<void(double)>& progress)
{
    const EraseRow& row = rowOf(erase);
    switch (row.family) {
    case Family::Nvme:
        eraseNvme(disk, row, progress);
        return;
    case Family::Ata:
        runAtaSecurityErase(disk.descriptor(), disk.device(), erase == DeviceErase::AtaSecurityEraseEnhanced);
        break;
    case Family::Scsi:
        runScsiSanitize(disk.descriptor(), disk.device(), ScsiSanitizeAction(row.action));
        break;
    case Family::Kernel:
        eraseByKernel(disk, progress);
        break;
    }
    progress(1.0);
}

} // namespace platform
