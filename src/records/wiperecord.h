#pragma once
// One wipe record: what a process that wrote over data did, where, when, by
// whom, and how it ended. A record is stored when the process starts writing
// and completed when it ends, so one that never ends (the program killed,
// the machine off) stays "interrupted".
#include "platform/readback.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace records {

enum class ProcessKind { EntireDrive, Folder, Files, FreeSpace, WholeDisk };
enum class Outcome {
    Interrupted, // started and never completed
    Completed,   // everything it set out to do
    Incomplete,  // it ran to its end, but something was left (notes say what)
    Stopped,     // an error ended it (the error number and text say which)
};

// A whole disk's record keeps its model in `label`, its serial number in
// `uuid` and how it is attached ("USB", "SATA", "NVMe") in `fileSystem`:
// the records file keeps the columns it has.
struct DriveFacts {
    QString letter; // "T:"
    QString mountPoint;
    QString device;
    QString fileSystem;
    QString label;
    QString uuid;
    std::uint64_t sizeBytes = 0;
};

// A file or folder of a file or folder wipe, with its size when the wipe
// began (a folder's is the sum of the files listed in it).
struct WipedItem {
    QString path;
    std::int64_t size = 0;
    bool folder = false;
};

struct WipeRecord {
    qint64 id = 0;
    QDateTime started;
    QDateTime ended; // invalid until completed
    ProcessKind process = ProcessKind::FreeSpace;
    QString level;
    int passesDone = 0;
    int passesPlanned = 0;
    DriveFacts drive;
    QList<WipedItem> items;
    std::uint64_t bytesWritten = 0;
    platform::Verification verification = platform::Verification::NotRun;
    QString verificationDetail;
    Outcome outcome = Outcome::Interrupted;
    int errorNumber = 0;
    QString errorText;
    QString notes; // space missed, files left as they were, a failing drive
    QString host;
    QString user;
    QString version;
};

// The process list's name of a process type ("Security Wipe Free Space").
QString processName(ProcessKind kind);
std::optional<ProcessKind> processFromName(const QString& name);
// "Complete Wipe" for level 1, "Short Wipe" otherwise.
QString levelName(std::int16_t wipeLevel);
QString outcomeName(Outcome outcome);
Outcome outcomeFromName(const QString& name);
QString verificationName(platform::Verification v);
platform::Verification verificationFromName(const QString& name);

// A new record of a process about to write, stamped now with this machine,
// user and program version.
WipeRecord newRecord(ProcessKind kind, const QString& level, int passesPlanned, const DriveFacts& drive);
// The volume facts of a drive letter's folder.
DriveFacts driveFacts(const QString& letter, const QString& nativeFolder);

// "1,073,741,824 bytes (1.00 GiB)"
QString sizeText(std::uint64_t bytes);
// "2026-01-01 10:00:00 +01:00"; "-" for an invalid time.
QString timeText(const QDateTime& time);
// The same moment in this computer's time and zone, as lists show it:
// "2026-01-01 09:00:00 UTC"; "-" for an invalid time.
QString localTimeText(const QDateTime& time);
// How it ended, in one line: "Completed", "Stopped: Error 61: Disk full", ...
QString outcomeText(const WipeRecord& r);
// "Passed", "Failed: tmptxt1.txt: byte 12 ...", "Not run".
QString verificationText(const WipeRecord& r);

} // namespace records
