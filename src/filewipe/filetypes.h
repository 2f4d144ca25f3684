#pragma once
// The file-type selector of the folder and file wipe window: the endings
// found in the chosen folder, kept in the info database's scratch table
// "exts" (first record "ALL"), and the file-list pattern a choice gives.
//
// An ending is the last three characters of a name in upper case, not the
// text after the dot: page.html gives TML, run.js gives .JS and README gives
// DME. A choice lists the files whose extension is exactly that text, so
// such files show only under ALL, and their endings are offered only where
// another name has that extension (x.tml).
#include <QString>
#include <QStringList>

namespace infodb {
class Recordset;
}

namespace filewipe {

inline const QString kAllTypes = QStringLiteral("ALL");
inline const QString kAllFiles = QStringLiteral("*.*");

// The last three characters of `name` (all of it when shorter), upper case.
QString fileEnding(const QString& name);

// Whether a list pattern can stand for the ending and nothing else: the
// list reads '*', '?' and ';' as wildcards and separators and trims blanks
// at the end of a pattern, so "A;*" would list every file.
bool offeredAsType(const QString& ending);

// What the selector lists for these names, without the database: "ALL",
// then each ending once in the order the names give them.
QStringList typeChoices(const QStringList& names);

// Rebuilds "exts" on an open cursor for the names of a folder, through the
// cursor's moves only (first, next, end test, delete current, append), and
// returns the selector's entries as the table then holds them: "ALL" first
// (a table that lost its "ALL" record gets it back), then the endings in
// the order of `names`. Throws platform::RunTimeError.
QStringList rebuildFileTypes(infodb::Recordset& exts, const QStringList& names);

// The list pattern for a choice: "*." and the choice, or "*.*" for ALL or
// nothing.
QString patternForChoice(const QString& choice);

} // namespace filewipe
