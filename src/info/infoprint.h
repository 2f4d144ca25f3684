#pragma once
// Printing a help text: the heading in capitals under four empty lines, two
// empty lines, then the text, in 12-point Times New Roman. The routine takes
// any paged device, so the default printer and a PDF file go through the
// same code.
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QFont;
class QPagedPaintDevice;
class QPrinterInfo;

namespace info {

// The printer font: "Times New Roman", 12 points (fontconfig maps it to a
// metric-compatible face such as Liberation Serif where it is not installed).
QFont printFont();

// The print lines in order: four empty, the heading in capitals, two empty,
// then the text's own lines (CR LF, LF or CR break a line).
QStringList printLines(const QString& heading, const QString& text);

// Prints the lines on `device`, wrapping a line that is wider than the page
// at word boundaries and starting a new page when the next line does not
// fit. Throws RunTimeError 482 when the device refuses the document or a
// new page.
void printHelpText(QPagedPaintDevice& device, const QString& heading, const QString& text);

// The system's default printer, or RunTimeError 484 when none is set up or
// its information cannot be read.
std::unique_ptr<QPagedPaintDevice> defaultPrinter(const QPrinterInfo& printer);
// The print dialog: a printer, or a PDF file where there is none. Null for
// Cancel (nothing is printed, and nothing needs saying).
std::unique_ptr<QPagedPaintDevice> chosenPrinter();

// The message for a printer failure (482, 483, 484); empty for any other
// number.
QString printerMessage(int errorNumber);

// Where the viewer prints. Empty restores the print dialog (tests print to
// a PDF file).
using PrinterSource = std::function<std::unique_ptr<QPagedPaintDevice>()>;
void setPrinterSource(PrinterSource source);
std::unique_ptr<QPagedPaintDevice> openPrinter();

} // namespace info
