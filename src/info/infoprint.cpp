// The printed help text keeps the classic page: the printer's own margins
// and page size, four empty lines, the heading in capitals, two empty lines,
// the text. Unlike a line printer's Print statement, a line wider than the
// page is wrapped rather than cut off at the right edge: the help texts hold
// whole paragraphs on one line, and a cut line is lost text on paper.
#include "info/infoprint.h"

#include "platform/errors.h"
#include "platform/prompter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QPrintDialog>
#include <QDir>
#include <QApplication>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTextLayout>

namespace info {

QFont printFont()
{
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSize(12);
    return font;
}

QStringList printLines(const QString& heading, const QString& text)
{
    QStringList lines(4, QString());
    lines << heading.toUpper() << QString() << QString();
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    lines << text.split(lineBreak);
    return lines;
}

namespace {

// Puts lines one under the other, turning the page when the next one does
// not fit.
class PageWriter {
public:
    PageWriter(QPainter& painter, QPagedPaintDevice& device)
        : painter_(painter), device_(device), font_(printFont()),
          spacing_(QFontMetricsF(font_, &device).lineSpacing()), width_(device.width()),
          height_(device.height())
    {
        painter_.setFont(font_);
    }

    void print(const QString& line)
    {
        if (line.isEmpty()) {
            advance();
            return;
        }
        QTextLayout layout(line, font_, &device_);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine piece = layout.createLine(); piece.isValid(); piece = layout.createLine())
            piece.setLineWidth(width_);
        layout.endLayout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine piece = layout.lineAt(i);
            const qreal top = advance();
            piece.draw(&painter_, QPointF(0, top - piece.y()));
        }
    }

private:
    // Reserves the next line and returns its top.
    qreal advance()
    {
        if (y_ + spacing_ > height_ && y_ > 0) {
            if (!device_.newPage())
                throw platform::RunTimeError(platform::ErrPrinter, QStringLiteral("the printer refused a new page"));
            y_ = 0;
        }
        const qreal top = y_;
        y_ += spacing_;
        return top;
    }

    QPainter& painter_;
    QPagedPaintDevice& device_;
    QFont font_;
    qreal spacing_;
    qreal width_;
    qreal height_;
    qreal y_ = 0;
};

} // namespace

void printHelpText(QPagedPaintDevice& device, const QString& heading, const QString& text)
{
    QPainter painter;
    if (!painter.begin(&device))
        throw platform::RunTimeError(platform::ErrPrinter, QStringLiteral("the printer did not accept the document"));
    PageWriter writer(painter, device);
    for (const QString& line : printLines(heading, text))
        writer.print(line);
    if (!painter.end())
        throw platform::RunTimeError(platform::ErrPrinter, QStringLiteral("the document could not be finished"));
}

std::unique_ptr<QPagedPaintDevice> defaultPrinter(const QPrinterInfo& printer)
{
    // Without this check Qt would quietly print to nowhere.
    if (printer.isNull())
        throw platform::RunTimeError(platform::ErrPrinterInfo, QStringLiteral("no default printer is set up"));
    auto device = std::make_unique<QPrinter>(printer, QPrinter::HighResolution);
    if (!device->isValid())
        throw platform::RunTimeError(platform::ErrPrinterInfo, printer.printerName());
    return device;
}

std::unique_ptr<QPagedPaintDevice> chosenPrinter()
{
    auto device = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        // No printer set up: the dialog offers a PDF file.
        device->setOutputFormat(QPrinter::PdfFormat);
        device->setOutputFileName(QDir::home().filePath(QStringLiteral("ZarvexWipe.pdf")));
    }
    QPrintDialog dialog(device.get(), QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    if (!device->isValid())
        throw platform::RunTimeError(platform::ErrPrinterInfo, device->printerName());
    return device;
}

QString printerMessage(int errorNumber)
{
    switch (errorNumber) {
    case platform::ErrPrinter:
        return QStringLiteral("There is an unspecified printer error");
    case platform::ErrPrinterProperty:
        return QStringLiteral("Your printer does not support the selected property");
    case platform::ErrPrinterInfo:
        return platform::joinLines({QStringLiteral("There is a problem with your printer"),
                                    QStringLiteral("make sure your printer is properly set up and turned on")});
    default:
        return {};
    }
}

namespace {
PrinterSource& printerSource()
{
    static PrinterSource source;
    return source;
}
} // namespace

void setPrinterSource(PrinterSource source)
{
    printerSource() = std::move(source);
}

std::unique_ptr<QPagedPaintDevice> openPrinter()
{
    return printerSource() ? printerSource()() : chosenPrinter();
}

} // namespace info
