// The certificate is a form, not a report: one page, headings a reader can
// find, every field of the record with its label even when it is empty (an
// empty line on a certificate reads as an omission), and room to sign at the
// bottom. The page is laid out twice when needed: measured first, then drawn
// at the largest type that fits, so a long list of files or notes never
// spills onto a second sheet that could be lost.
#include "records/certificate.h"
#include "info/infoprint.h"
#include "platform/errors.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>

namespace records {

namespace {

QString orNone(const QString& text, const char* none = "-")
{
    return text.isEmpty() ? QString::fromLatin1(none) : text;
}

QString itemText(const WipedItem& item)
{
    return QStringLiteral("%1 (%2 bytes%3)")
        .arg(item.path, QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(item.size)),
             item.folder ? QStringLiteral(" in the files listed") : QString());
}

// Lays the page out from the top; draws only when `draw` is set, so the same
// code measures and prints.
class Page {
public:
    Page(QPainter& painter, const QRectF& area, qreal points, bool draw)
        : p_(painter), area_(area), points_(points), draw_(draw)
    {
    }

    qreal y() const { return y_; }

    void text(const QString& t, qreal scale, bool bold, int align)
    {
        p_.setFont(font(scale, bold));
        const QRectF box = p_.boundingRect(QRectF(area_.left(), y_, area_.width(), 1e7), align | Qt::TextWordWrap, t);
        if (draw_)
            p_.drawText(QRectF(area_.left(), y_, area_.width(), box.height()), align | Qt::TextWordWrap, t);
        y_ += box.height();
    }
    void gap(qreal lines) { y_ += lines * line(); }
    void skip(qreal height) { y_ += height; }
    void rule()
    {
        gap(0.3);
        if (draw_)
            p_.drawLine(QPointF(area_.left(), y_), QPointF(area_.right(), y_));
        gap(0.3);
    }
    void row(const QString& label, const QString& value)
    {
        const qreal labelWidth = area_.width() * 0.28;
        const qreal gutter = line();
        p_.setFont(font(1.0, true));
        const QRectF labelBox(area_.left(), y_, labelWidth - gutter, 1e7);
        const qreal labelHeight = p_.boundingRect(labelBox, Qt::TextWordWrap, label).height();
        if (draw_)
            p_.drawText(QRectF(labelBox.topLeft(), QSizeF(labelBox.width(), labelHeight)), Qt::TextWordWrap, label);
        p_.setFont(font(1.0, false));
        const QRectF valueBox(area_.left() + labelWidth, y_, area_.width() - labelWidth, 1e7);
        const qreal valueHeight =
            p_.boundingRect(valueBox, Qt::TextWordWrap | Qt::TextWrapAnywhere, value).height();
        if (draw_)
            p_.drawText(QRectF(valueBox.topLeft(), QSizeF(valueBox.width(), valueHeight)),
                        Qt::TextWordWrap | Qt::TextWrapAnywhere, value);
        y_ += std::max(labelHeight, valueHeight) + 0.15 * line();
    }
    // A line to write on, with what goes there in small type beneath it.
    void signatureLine(const QString& who)
    {
        const struct {
            const char* caption;
            qreal from, to;
        } fields[] = {{"Name", 0.18, 0.48}, {"Signature", 0.52, 0.80}, {"Date", 0.84, 1.0}};
        p_.setFont(font(1.0, true));
        gap(2.4);
        if (draw_)
            p_.drawText(QPointF(area_.left(), y_), who);
        for (const auto& f : fields) {
            const qreal x0 = area_.left() + f.from * area_.width();
            const qreal x1 = area_.left() + f.to * area_.width();
            if (draw_)
                p_.drawLine(QPointF(x0, y_), QPointF(x1, y_));
            p_.setFont(font(0.8, false));
            if (draw_)
                p_.drawText(QPointF(x0, y_ + 0.9 * line()), QString::fromLatin1(f.caption));
            p_.setFont(font(1.0, true));
        }
        gap(1.0);
    }

private:
    QFont font(qreal scale, bool bold) const
    {
        QFont f = info::printFont();
        f.setPointSizeF(points_ * scale);
        f.setBold(bold);
        return f;
    }
    qreal line() const { return QFontMetricsF(font(1.0, false), p_.device()).lineSpacing(); }

    QPainter& p_;
    QRectF area_;
    qreal points_;
    bool draw_;
    qreal y_ = 0;
};

// `spare` is the room left on the page, given to the space above the
// signatures so that they sit at the foot of the sheet.
qreal layOut(QPainter& painter, const QRectF& area, const WipeRecord& record, qreal points, bool draw, qreal spare = 0)
{
    Page page(painter, area, points, draw);
    page.text(QStringLiteral("Certificate of Data Erasure"), 1.8, true, Qt::AlignHCenter);
    page.text(QStringLiteral("Wipe record %1 of Zarvex Drive Wiper").arg(record.id), 1.0, false, Qt::AlignHCenter);
    page.rule();
    for (const CertificateSection& section : certificateSections(record)) {
        page.gap(0.4);
        page.text(section.title, 1.15, true, Qt::AlignLeft);
        page.gap(0.2);
        for (const auto& [label, value] : section.rows)
            page.row(label, value);
    }
    page.skip(spare);
    page.rule();
    page.text(QStringLiteral("The undersigned confirm that the process above was carried out on the drive described, "
                             "with the outcome stated."),
              0.9, false, Qt::AlignLeft);
    page.signatureLine(QStringLiteral("Wiped by"));
    page.signatureLine(QStringLiteral("Witness"));
    page.gap(0.6);
    page.text(QStringLiteral("Printed %1.").arg(timeText(QDateTime::currentDateTime())), 0.75, false, Qt::AlignLeft);
    return page.y();
}

// What was wiped: a drive's volume, or a whole disk.
CertificateSection placeSection(const WipeRecord& r)
{
    if (r.process == ProcessKind::WholeDisk)
        return {QStringLiteral("Disk"),
                {{QStringLiteral("Device"), orNone(r.drive.device)},
                 {QStringLiteral("Model"), orNone(r.drive.label, "(none given)")},
                 {QStringLiteral("Serial number"), orNone(r.drive.uuid, "(none given)")},
                 {QStringLiteral("Attached by"), orNone(r.drive.fileSystem)},
                 {QStringLiteral("Size"), sizeText(r.drive.sizeBytes)}}};
    return {QStringLiteral("Drive"),
            {{QStringLiteral("Drive letter"), orNone(r.drive.letter)},
             {QStringLiteral("Mount point"), orNone(r.drive.mountPoint)},
             {QStringLiteral("Device"), orNone(r.drive.device)},
             {QStringLiteral("File system"), orNone(r.drive.fileSystem)},
             {QStringLiteral("Label"), orNone(r.drive.label, "(none)")},
             {QStringLiteral("UUID"), orNone(r.drive.uuid, "(none)")},
             {QStringLiteral("Size"), sizeText(r.drive.sizeBytes)}}};
}

} // namespace

QList<CertificateSection> certificateSections(const WipeRecord& r, int maxItems)
{
    QList<CertificateSection> sections;
    sections << CertificateSection{
        QStringLiteral("Process"),
        {{QStringLiteral("Record number"), QString::number(r.id)},
         {QStringLiteral("Process"), processName(r.process)},
         {r.process == ProcessKind::WholeDisk ? QStringLiteral("Method") : QStringLiteral("Wipe level"), orNone(r.level)},
         {QStringLiteral("Passes done"), QStringLiteral("%1 of %2").arg(r.passesDone).arg(r.passesPlanned)},
         {QStringLiteral("Started"), timeText(r.started)},
         {QStringLiteral("Ended"), r.ended.isValid() ? timeText(r.ended) : QStringLiteral("- (never ended)")},
         {QStringLiteral("Bytes written"), sizeText(r.bytesWritten)}}};
    sections << placeSection(r);
    if (!r.items.isEmpty()) {
        CertificateSection items{QStringLiteral("Files and folders"), {}};
        for (qsizetype i = 0; i < r.items.size() && i < maxItems; ++i)
            items.rows << qMakePair(r.items[i].folder ? QStringLiteral("Folder") : QStringLiteral("File"),
                                    itemText(r.items[i]));
        if (r.items.size() > maxItems)
            items.rows << qMakePair(QStringLiteral("More"),
                                    QStringLiteral("%1 more, listed in the wipe record").arg(r.items.size() - maxItems));
        sections << items;
    }
    sections << CertificateSection{
        QStringLiteral("Result"),
        {{QStringLiteral("Verification"), verificationText(r)},
         {QStringLiteral("Outcome"), outcomeText(r)},
         {QStringLiteral("Error"), r.errorNumber
                                       ? QStringLiteral("%1: %2").arg(QString::number(r.errorNumber), r.errorText)
                                       : orNone(r.errorText, "none")},
         {QStringLiteral("Notes"), orNone(r.notes, "none")}}};
    sections << CertificateSection{
        QStringLiteral("Made by"),
        {{QStringLiteral("Computer"), orNone(r.host)},
         {QStringLiteral("User"), orNone(r.user)},
         {QStringLiteral("Program"), QStringLiteral("Zarvex Drive Wiper %1").arg(r.version)}}};
    return sections;
}

void printCertificate(QPagedPaintDevice& device, const WipeRecord& record)
{
    QPainter painter;
    if (!painter.begin(&device))
        throw platform::RunTimeError(platform::ErrPrinter, QStringLiteral("the printer did not accept the document"));
    const QRectF area(0, 0, device.width(), device.height());
    qreal points = 12;
    qreal height = layOut(painter, area, record, points, false);
    while (points > 7 && height > area.height()) {
        points -= 0.5;
        height = layOut(painter, area, record, points, false);
    }
    QPen pen = painter.pen();
    pen.setWidthF(device.logicalDpiX() / 96.0);
    painter.setPen(pen);
    layOut(painter, area, record, points, true, std::max<qreal>(0, area.height() - height));
    if (!painter.end())
        throw platform::RunTimeError(platform::ErrPrinter, QStringLiteral("the document could not be finished"));
}

void saveCertificatePdf(const WipeRecord& record, const QString& file)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    printer.setDocName(QStringLiteral("Certificate of Data Erasure %1").arg(record.id));
    printCertificate(printer, record);
}

} // namespace records
