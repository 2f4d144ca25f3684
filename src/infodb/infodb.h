#pragma once
// The info database as the windows use it: help texts in the first record of
// "MiscInfo" (one column per topic) and the file-type scratch list in "exts"
// (column "extname", first record "ALL").
//
// A missing or broken database does not stop the program: the windows that
// need it report the failure once (reportOnce) and go on without it, the
// viewer with an empty text, the type selector with only "ALL".
#include "infodb/location.h"
#include "infodb/recordset.h"
#include "platform/errors.h"

#include <QString>
#include <QStringList>

namespace platform {
class Prompter;
}

namespace infodb {

inline constexpr const char* kHelpTable = "MiscInfo";
inline constexpr const char* kExtsTable = "exts";
inline constexpr const char* kExtField = "extname";
inline constexpr const char* kAllTypes = "ALL";

// The thirteen topic columns of "MiscInfo", in table order.
QStringList topicColumns();

// The text of one topic column in the first record of "MiscInfo" (empty for
// a null value). Throws RunTimeError.
QString readTopic(const Connection& connection, const QString& column);
QString readTopic(const QString& column);

// Every "extname" of "exts" in natural order. Throws RunTimeError.
QStringList readExtNames(const Connection& connection);
QStringList readExtNames();

// Shows the failure in a message box naming the file, once per distinct
// failure for the life of the program; later reports of the same failure
// are silent.
void reportOnce(platform::Prompter& prompter, const platform::RunTimeError& error);
// Forgets what was reported (tests).
void resetReports();

} // namespace infodb
