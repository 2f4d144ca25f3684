#pragma once
// What a running fill has put on a drive, kept where it outlives the process.
//
// A fill that is killed (kill -9, a power cut, a closed terminal) cannot
// delete its fill files or put back the file system's reserve it released,
// and the drive stays full, its reserve at 0. Each fill therefore records, in
// a small per-user SQLite journal, the drive's folder and device, every fill
// file it creates (by device and inode) and every setting it changes (with
// the old value), and removes the record when it ends, by whatever path. At
// the next start the records of runs that no longer exist are repaired: a
// fill file that is still the same file is deleted, a setting is put back. A
// file of the same name that is not the recorded one is never touched.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace platform {

class JournalEntry {
public:
    // Begins the record of this process's fill of the volume at `folder`.
    // A journal that cannot be written leaves the fill unrecorded (it goes
    // on; the next start cannot repair it) and says so once in `problem()`.
    explicit JournalEntry(const QString& folder);
    ~JournalEntry(); // the fill ended: the record goes
    JournalEntry(const JournalEntry&) = delete;
    JournalEntry& operator=(const JournalEntry&) = delete;

    // Every file and folder the fill makes is recorded before it is made,
    // and marked when made with this run's mark (platform/fillfile.h), so
    // that a repair can prove it is the fill's even where the file system
    // keeps no birth time (FUSE) or the kill came before its identity was
    // recorded.
    const QByteArray& mark() const { return mark_; }
    void creating(const QString& nativePath, bool folder = false);
    void fileCreated(const QString& nativePath);
    void fileDeleted(const QString& nativePath);
    // Names of the fill's own made in a folder of the drive (to cover its
    // index) and deleted again: one record for all of them.
    void namesMaking(const QString& nativeFolder);
    void namesGone(const QString& nativeFolder) { fileDeleted(nativeFolder); }
    // Recorded before the setting is changed, so a kill between the two
    // leaves nothing unrepaired.
    void settingChanging(const QString& path, const QString& oldValue);
    void settingRestored(const QString& path);

    static QString problem();

private:
    qint64 id_ = 0;
    QByteArray mark_;
};

// Repairs what runs that no longer exist left behind; returns what was found
// and done, for the user, or an empty text when there was nothing.
QString repairInterruptedWipes();

} // namespace platform
