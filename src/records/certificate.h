#pragma once
// The certificate of one wipe record: a single page that states every field
// of the record under plain headings, ends with lines for the names,
// signatures and dates of the person who wiped the drive and of a witness,
// and can go to any paged device (the default printer, a PDF file).
#include "records/wiperecord.h"

#include <QList>
#include <QPair>
#include <QString>

class QPagedPaintDevice;

namespace records {

struct CertificateSection {
    QString title;
    QList<QPair<QString, QString>> rows; // label, value
};

// What the page says, section by section, in order. Files and folders past
// the first `maxItems` are summed up in one row.
QList<CertificateSection> certificateSections(const WipeRecord& record, int maxItems = 12);

// Prints the certificate on one page of `device`, making the type smaller
// when a long record would not fit. Throws RunTimeError 482 when the device
// refuses the document.
void printCertificate(QPagedPaintDevice& device, const WipeRecord& record);

// Prints the certificate to a PDF file through the printer's PDF output.
// Throws RunTimeError 482 when the file cannot be written.
void saveCertificatePdf(const WipeRecord& record, const QString& file);

} // namespace records
