#pragma once
// The ext4 journal keeps copies of the metadata blocks each change touched:
// folder blocks with deleted names, extended attribute blocks with their old
// values. It is not free space, so no fill reaches it, and it is written
// round and round: what was logged stays until enough newer changes have
// been logged over it. So the journal is overwritten by logging changes of
// our own: extended attribute blocks of throw-away files in a folder of
// their own, each block distinct (identical ones would be shared), synced
// batch by batch, until the journal has been written over once, or the time
// is up.
#include <QString>

namespace platform {

struct JournalChurn {
    bool ran = false;      // the volume is ext4 and the churn was made
    bool complete = false; // the journal's whole size was written over
};

// What a wipe allows the churn: 3,000 changes took 2 s on a small volume.
inline constexpr int kJournalChurnMs = 30'000;

// The folder is on ext4, whose journal the churn writes over.
bool onExt4(const QString& folder);

// Overwrites the journal of the ext4 volume holding `folder`; nothing on
// other file systems. Bounded by `limitMs`.
JournalChurn churnJournal(const QString& folder, int limitMs);

} // namespace platform
