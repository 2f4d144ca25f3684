#pragma once
// A SCSI drive's own erase: SANITIZE. The drive overwrites, block-erases
// or crypto-erases every block it has, its spare area included. Which of
// these it takes is asked first (REPORT SUPPORTED OPERATION CODES); none
// is sent to a drive that does not say it takes it.
#include <QString>

namespace platform {

enum class ScsiSanitizeAction { Overwrite = 1, BlockErase = 2, CryptoErase = 3 };

struct ScsiSanitize {
    bool overwrite = false, blockErase = false, cryptoErase = false;
    QString none; // why none is offered
};

ScsiSanitize scsiSanitizeOf(int fd);
// The overwrite writes zeros once. Throws RunTimeError (57) with the
// drive's sense when it refuses or fails.
void runScsiSanitize(int fd, const QString& device, ScsiSanitizeAction action);

} // namespace platform
