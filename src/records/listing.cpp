#include "records/listing.h"
#include "platform/errors.h"
#include "records/certificate.h"
#include "records/store.h"

#include <algorithm>

namespace records {

QStringList recordsTable(const QList<WipeRecord>& list)
{
    QList<QStringList> rows{{QStringLiteral("ID"), QStringLiteral("Started"), QStringLiteral("Ended"),
                             QStringLiteral("Process"), QStringLiteral("Level"), QStringLiteral("Drive"),
                             QStringLiteral("Passes"), QStringLiteral("Verification"), QStringLiteral("Outcome")}};
    for (const WipeRecord& r : list)
        rows << QStringList{QString::number(r.id), localTimeText(r.started), localTimeText(r.ended),
                            processName(r.process), r.level, QStringLiteral("%1 [%2]").arg(r.drive.letter, r.drive.mountPoint),
                            QStringLiteral("%1/%2").arg(r.passesDone).arg(r.passesPlanned), verificationName(r.verification),
                            outcomeName(r.outcome)};
    // Each column as wide as its widest cell: long mount points and levels
    // push the columns after them, they do not break them.
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += row[c].leftJustified(c + 1 < row.size() ? widths[c] + 2 : 0);
        lines << line.trimmed();
    }
    return lines;
}

int listOrPrintRecords(const QString& pdf, qint64 id, const std::function<void(const QString&)>& say)
{
    try {
        Store store;
        const QList<WipeRecord> list = id ? QList<WipeRecord>() : store.all();
        if (pdf.isEmpty() || (!id && list.isEmpty())) {
            if (list.isEmpty())
                say(QStringLiteral("There are no wipe records in %1.").arg(store.file()));
            else
                for (const QString& line : recordsTable(list))
                    say(line);
            return pdf.isEmpty() ? 0 : 1;
        }
        const std::optional<WipeRecord> r = id ? store.find(id) : std::optional(list.first());
        if (!r) {
            say(QStringLiteral("There is no wipe record %1.").arg(id));
            return 1;
        }
        saveCertificatePdf(*r, pdf);
        say(QStringLiteral("The certificate of wipe record %1 is in %2.").arg(QString::number(r->id), pdf));
        return 0;
    } catch (const platform::RunTimeError& e) {
        say(QStringLiteral("Error %1: %2").arg(QString::number(e.number()), e.description()));
        return 1;
    }
}

} // namespace records
