#pragma once
// Commands sent to a drive behind the kernel's SCSI layer (SG_IO): SCSI
// commands, and ATA commands to a SATA drive (or through a USB bridge that
// passes them on) by the SCSI-ATA translation, ATA PASS-THROUGH (16). The
// hidden-area probe and the drives' own erases speak to the drive this way.
#include <array>
#include <cstdint>
#include <span>

namespace platform {

enum class ScsiData { None, In, Out };

struct ScsiResult {
    bool sent = false;               // the kernel passed it on and the drive answered
    std::uint8_t status = 0xFF;      // SCSI status: 0 good, 2 check condition
    std::array<std::uint8_t, 32> sense {};
    bool good() const { return sent && status == 0; }
    // The sense key and additional sense code of a check condition.
    int senseKey() const;
    int asc() const;
};

ScsiResult scsiCommand(int fd, std::span<const std::uint8_t> cdb, ScsiData direction, void* data, unsigned length,
                       unsigned timeoutMs);

using AtaBlock = std::array<std::uint8_t, 512>;
enum class AtaData { None, In, Out }; // one 512-byte block, to or from the drive

struct AtaCommand {
    std::uint8_t command = 0;
    std::uint8_t feature = 0;
    AtaData data = AtaData::None;
    AtaBlock* block = nullptr;  // In and Out
    unsigned timeoutMs = 10000;
};

// The drive's registers after a command without data (the ATA status
// return descriptor): READ NATIVE MAX ADDRESS answers in them.
struct AtaRegisters {
    std::uint64_t lba = 0;
};

// True when the drive took and did the command (no ATA error).
bool ataCommand(int fd, const AtaCommand& command, AtaRegisters* registers = nullptr);

// IDENTIFY DEVICE data: word n, and the four words from `first` as one
// number (least significant first).
std::uint16_t ataWord(const AtaBlock& data, int n);
std::uint64_t ataWords64(const AtaBlock& data, int first);

// The drive's IDENTIFY DEVICE data; false when it does not answer, which
// the reports say as kNoIdentifyAnswer.
bool ataIdentify(int fd, AtaBlock& identify);
inline constexpr char kNoIdentifyAnswer[] = "did not answer ATA IDENTIFY DEVICE (a USB bridge may not pass it on)";

} // namespace platform
