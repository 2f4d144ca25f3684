#include "filewipe/filetypes.h"
#include "infodb/infodb.h"
#include "infodb/recordset.h"

namespace filewipe {

namespace {
const QString kField = QString::fromLatin1(infodb::kExtField);
}

QString fileEnding(const QString& name)
{
    return name.right(3).toUpper();
}

bool offeredAsType(const QString& ending)
{
    if (ending.isEmpty() || ending.back().isSpace())
        return false;
    for (const QChar c : ending)
        if (c == u'*' || c == u'?' || c == u';')
            return false;
    return true;
}

// The ending a name puts in the selector, or none: a choice lists the names
// whose extension is exactly the ending, so an ending that lists not even
// the name it came from (page.html's TML, README's DME) is not offered.
static QString offeredEnding(const QString& name)
{
    const QString ending = fileEnding(name);
    const bool listsItsName = name.size() > ending.size() && name.at(name.size() - ending.size() - 1) == u'.';
    return listsItsName && offeredAsType(ending) ? ending : QString();
}

QStringList typeChoices(const QStringList& names)
{
    QStringList choices{kAllTypes};
    for (const QString& name : names) {
        const QString ending = offeredEnding(name);
        if (!ending.isEmpty() && !choices.contains(ending))
            choices << ending;
    }
    return choices;
}

QStringList rebuildFileTypes(infodb::Recordset& exts, const QStringList& names)
{
    // Empty the scratch list down to its "ALL" record.
    exts.moveFirst();
    bool keptAll = false;
    if (!exts.bof() && !exts.eof()) {
        keptAll = exts.text(kField) == kAllTypes;
        if (keptAll)
            exts.moveNext();
        while (!exts.eof()) {
            exts.deleteCurrent();
            exts.moveNext();
        }
    }
    // Without its "ALL" record the selector could never list every file
    // again; appended to an emptied table it is the first record once more.
    if (!keptAll) {
        exts.addNew();
        exts.setValue(kField, kAllTypes);
    }

    // Each ending once: scan from the first record, append at the end. An
    // appended record is stored by the next move.
    for (const QString& name : names) {
        const QString ending = offeredEnding(name);
        if (ending.isEmpty())
            continue;
        for (exts.moveFirst();; exts.moveNext()) {
            if (exts.eof()) {
                exts.addNew();
                exts.setValue(kField, ending);
                break;
            }
            if (exts.text(kField) == ending)
                break;
        }
    }

    QStringList entries;
    for (exts.moveFirst(); !exts.eof(); exts.moveNext()) {
        const QString value = exts.text(kField);
        if (!value.isEmpty())
            entries << value;
    }
    return entries;
}

QString patternForChoice(const QString& choice)
{
    return choice.isEmpty() || choice == kAllTypes ? kAllFiles : QStringLiteral("*.") + choice;
}

} // namespace filewipe
