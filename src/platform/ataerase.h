#pragma once
// An ATA drive's own erase: SECURITY ERASE UNIT. The drive writes over
// every user sector itself, sectors it has set aside as bad included (the
// enhanced erase its spare area as well), which no write from the host can
// reach. The drive only erases with a user password set, so one is set
// first and taken off again on every path, a failed erase included: the
// drive is never left locked.
#include "platform/scsicommand.h"

#include <QString>

namespace platform {

// What IDENTIFY DEVICE says of the security feature set (word 128) and
// the drive's own estimate of each erase (words 89 and 90).
struct AtaSecurity {
    bool normal = false;   // SECURITY ERASE UNIT can run now
    bool enhanced = false; // and in its enhanced mode
    QString none;          // why it cannot: not offered, a password set, locked, frozen
    unsigned normalMinutes = 0, enhancedMinutes = 0; // 0: the drive gives none
};
AtaSecurity ataSecurityOf(const AtaBlock& identify);

// Sets the password, prepares and erases (waiting as long as the drive
// says it takes, and half as long again), then takes the password off.
// Throws RunTimeError (57) naming the step the drive failed, and whether
// the password is off again.
void runAtaSecurityErase(int fd, const QString& device, bool enhanced);

} // namespace platform
