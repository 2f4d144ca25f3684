#include "records/listing.h"
#include "platform/errors.h"
#include "records/certificate.h"
#include "records/store.h"

namespace records {

QStringList recordsTable(const QList<WipeRecord>& list)
{
    const QString row = QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8  %9");
    auto line = [&](const QStringList& f) {
        return row.arg(f[0], -4)
            .arg(f[1], -19)
            .arg(f[2], -19)
            .arg(f[3], -36)
            .arg(f[4], -13)
            .arg(f[5], -24)
            .arg(f[6], -6)
            .arg(f[7], -12)
            .arg(f[8])
            .trimmed();
    };
    QStringList lines{line({QStringLiteral("ID"), QStringLiteral("Started"), QStringLiteral("Ended"),
                            QStringLiteral("Process"), QStringLiteral("Level"), QStringLiteral("Drive"),
                            QStringLiteral("Passes"), QStringLiteral("Verification"), QStringLiteral("Outcome")})};
    const QString time = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    for (const WipeRecord& r : list)
        lines << line({QString::number(r.id), r.started.toString(time),
                       r.ended.isValid() ? r.ended.toString(time) : QStringLiteral("-"), processName(r.process),
                       r.level.left(13), QStringLiteral("%1 [%2]").arg(r.drive.letter, r.drive.mountPoint),
                       QStringLiteral("%1/%2").arg(r.passesDone).arg(r.passesPlanned), verificationName(r.verification),
                       outcomeName(r.outcome)});
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
        say(QStringLiteral("The certificate of wipe record %1 is in %2.").arg(r->id).arg(pdf));
        return 0;
    } catch (const platform::RunTimeError& e) {
        say(QStringLiteral("Error %1: %2").arg(e.number()).arg(e.description()));
        return 1;
    }
}

} // namespace records
