#pragma once
// Where the info database lives: ZarvexWipe.db beside the executable in a
// build folder, or in the installed data folder (<prefix>/share/zarvexwipe).
// The file-type scratch list must be writable, and an installed file belongs
// to its package, so then the program works on a copy in the user's data
// folder, made on first use and renewed when a newer program brings
// different texts.
#include <QString>
#include <optional>

namespace infodb {

inline constexpr const char* kDatabaseFileName = "ZarvexWipe.db";

// The file the program brings (native path): beside the executable when it
// is there, else the installed one.
QString shippedDatabasePath();

// Resolves the file to work on, given the file the program brings and the
// user's data folder: the file itself when it can be written in place and
// `inPlaceAllowed` (not an installed file), otherwise the copy in
// `userFolder` (made or renewed as needed). When no copy can be made the
// file itself is used read-only. Throws RunTimeError 53 naming the file
// when it does not exist.
QString locateDatabase(const QString& shippedFile, const QString& userFolder, bool inPlaceAllowed = true);

// The file the program works on: the one set by `setDatabasePath`, else
// `locateDatabase` of the shipped file and `platform::userDataFolder()`.
QString databasePath();

// Points the program at another file (tests, tools); empty restores the
// default lookup.
void setDatabasePath(const QString& nativeFile);

// The content version the build stamps into a database (its user_version);
// none when the file is missing or is not a database.
std::optional<qint32> contentVersion(const QString& nativeFile);

} // namespace infodb
