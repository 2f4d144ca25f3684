#pragma once
// Where a program file that must be written lives when the program's own
// folder cannot be written (an installed program), and how it gets there.
#include <QString>

namespace platform {

// True when this process can rewrite the file where it lies and create files
// beside it (SQLite's journal): both the file and its folder are writable.
// Honours read-only mounts even for root.
bool canWriteInPlace(const QString& nativeFile);

// The user's own data folder for this program (~/.local/share/ZarvexWipe);
// empty when the system has none.
QString userDataFolder();

// The user's folder for what must outlive a run (wipe records):
// $XDG_STATE_HOME/ZarvexWipe, else ~/.local/state/ZarvexWipe; empty when
// there is no home folder. Root trusts neither variable: its journal deletes
// files and writes settings, so a folder another user chose (`sudo -E`, `su`
// without `-`) would let that user choose what root deletes. Root takes
// $XDG_STATE_HOME only when root owns it, and its own home otherwise.
QString userStateFolder();

// Makes the state folder (and the folders above it) and leaves it readable
// by its owner alone: the records name the files that were destroyed. false
// when it cannot be made, or belongs to another user.
bool makePrivateFolder(const QString& folder);
// Leaves a state file readable and writable by its owner alone.
void makePrivateFile(const QString& file);

// Copies `from` to `to`, making the target's folder when needed. The copy is
// written aside, flushed and renamed over the target, so a failed copy never
// leaves a half-written file in its place. Throws RunTimeError.
void copyFileReplacing(const QString& from, const QString& to);

} // namespace platform
