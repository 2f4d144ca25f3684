#include "platform/scsicommand.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

namespace platform {

namespace {

constexpr std::uint8_t kAtaPassThrough16 = 0x85;

// The ATA protocol field and the transfer bits of the pass-through's
// byte 2, by what moves: without data the registers come back (CK_COND);
// a block is counted in the sector count, in or out.
struct Protocol {
    AtaData data;
    int protocol;
    std::uint8_t transfer;
};
constexpr Protocol kProtocols[] = {
    {AtaData::None, 3, 0x20},
    {AtaData::In, 4, 0x0E},
    {AtaData::Out, 5, 0x06},
};

} // namespace

int ScsiResult::senseKey() const
{
    return (sense[0] & 0x7F) >= 0x72 ? sense[1] & 0x0F : sense[2] & 0x0F;
}

int ScsiResult::asc() const
{
    return (sense[0] & 0x7F) >= 0x72 ? sense[2] : sense[12];
}

ScsiResult scsiCommand(int fd, std::span<const std::uint8_t> cdb, ScsiData direction, void* data, unsigned length,
                       unsigned timeoutMs)
{
    static constexpr int kDirections[] = {SG_DXFER_NONE, SG_DXFER_FROM_DEV, SG_DXFER_TO_DEV};
    ScsiResult r;
    sg_io_hdr_t io {};
    io.interface_id = 'S';
    io.cmdp = const_cast<std::uint8_t*>(cdb.data());
    io.cmd_len = std::uint8_t(cdb.size());
    io.dxfer_direction = kDirections[int(direction)];
    io.dxferp = data;
    io.dxfer_len = length;
    io.sbp = r.sense.data();
    io.mx_sb_len = r.sense.size();
    io.timeout = timeoutMs;
    // A check condition comes with its sense data (DRIVER_SENSE); any other
    // word from the host or driver means the drive never answered.
    r.sent = ::ioctl(fd, SG_IO, &io) == 0 && io.host_status == 0 && (io.driver_status & ~0x08) == 0;
    r.status = io.status;
    return r;
}

bool ataCommand(int fd, const AtaCommand& c, AtaRegisters* registers)
{
    const Protocol& p = kProtocols[int(c.data)];
    std::array<std::uint8_t, 16> cdb {};
    cdb[0] = kAtaPassThrough16;
    cdb[1] = std::uint8_t(p.protocol << 1 | 1); // 48-bit registers
    cdb[2] = p.transfer;
    cdb[4] = c.feature;
    cdb[6] = c.data == AtaData::None ? 0 : 1;
    cdb[13] = 0x40; // LBA addressing
    cdb[14] = c.command;
    const ScsiResult r = scsiCommand(fd, cdb, ScsiData(int(c.data)), c.block ? c.block->data() : nullptr,
                                     c.data == AtaData::None ? 0 : 512, c.timeoutMs);
    if (!r.sent)
        return false;
    if (c.data != AtaData::None)
        return r.status == 0;
    // Without data the command ends with CHECK CONDITION and the registers
    // in the sense data; their status register says whether the drive failed it.
    const std::uint8_t* d = r.sense.data() + 8;
    if ((r.status & 0x7E) != 0x02 || r.sense[0] != 0x72 || d[0] != 0x09)
        return r.status == 0 && !registers; // a translation that gives no registers back
    if (d[13] & 0x01)
        return false;
    if (registers)
        registers->lba = std::uint64_t(d[10]) << 40 | std::uint64_t(d[8]) << 32 | std::uint64_t(d[6]) << 24 |
                         std::uint64_t(d[11]) << 16 | std::uint64_t(d[9]) << 8 | d[7];
    return true;
}

bool ataIdentify(int fd, AtaBlock& identify)
{
    constexpr std::uint8_t kIdentifyDevice = 0xEC;
    return ataCommand(fd, {kIdentifyDevice, 0, AtaData::In, &identify});
}

std::uint16_t ataWord(const AtaBlock& data, int n)
{
    return std::uint16_t(data[2 * n] | data[2 * n + 1] << 8);
}

std::uint64_t ataWords64(const AtaBlock& data, int first)
{
    std::uint64_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 16 | ataWord(data, first + i);
    return v;
}

} // namespace platform
