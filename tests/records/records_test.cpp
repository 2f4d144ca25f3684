// The wipe records as the user meets them: the certificate's page, the
// records window (opened from the main window's File menu; listing,
// printing, saving as PDF), the console's records command, and a records file
// that cannot be used. Records live in this test process's own state folder.
#include "app/form1.h"
#include "info/infoprint.h"
#include "records/frmrecords.h"
#include "records/recorder.h"
#include "records/store.h"
#include "support/fakes.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPagedPaintDevice>
#include <QProcess>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <gtest/gtest.h>

using records::WipeRecord;

namespace {

// The words of a PDF's text in reading order, one blank between them, and
// its page count.
struct PdfText { QString text; int pages = 0; };
PdfText readPdf(const QString& pdf)
{
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    p.waitForFinished(20000);
    const QString raw = QString::fromUtf8(p.readAllStandardOutput());
    return {raw.simplified(), int(raw.count(u'\f'))};
}

// A record with a value in every field, none of them alike; it failed its
// read-back and was stopped by an error, which the certificate must say.
WipeRecord fullRecord()
{
    const QDate day(2026, 3, 4);
    WipeRecord r{.id = 0, .started = QDateTime(day, QTime(5, 6, 7)), .ended = QDateTime(day, QTime(8, 9, 10)),
                 .process = records::ProcessKind::EntireDrive, .level = "Complete Wipe", .passesDone = 7, .passesPlanned = 10,
                 .drive = {"E:", "/media/stick", "/dev/sdz1", "ntfs", "STICK LABEL", "0123ABCD4567EF89", 32'000'000'000}, .items = {},
                 .bytesWritten = 123'456'789, .verification = platform::Verification::Failed,
                 .verificationDetail = "tmptxt3.txt: byte 42 of 5000 differs from what was written",
                 .outcome = records::Outcome::Stopped, .errorNumber = 61, .errorText = "Disk full: /media/stick/tmptxt4.txt",
                 .notes = "Part of the free space was out of reach.", .host = "auditor-pc", .user = "alice", .version = "5.4.0.1"};
    for (int i = 0; i < 20; ++i)
        r.items << records::WipedItem{QStringLiteral("/media/stick/docs/file%1.doc").arg(i), 1000 + i, false};
    return r;
}

} // namespace

class Records : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    testsupport::ScriptedPrompter prompter;

    void SetUp() override
    {
        records::resetRecordReports();
        QFile::remove(records::Store::defaultFile()); // each test starts without records
    }
    void TearDown() override
    {
        info::setPrinterSource({});
        delete records::recordsWindow();
    }
    // Stores records 1 to n, record n the newest.
    void store(int n)
    {
        records::Store s;
        for (int i = 1; i <= n; ++i) {
            WipeRecord r = fullRecord();
            r.drive.letter = QStringLiteral("%1:").arg(QChar('D' + i));
            ASSERT_EQ(s.add(r), i);
        }
    }
};

// Opened once from the main window's File menu, newest first. The selected
// record's certificate: every field of it, as stored, on one page ready to
// sign even with twenty files (the list is cut short).
TEST_F(Records, OneWindowFromTheFileMenuListsNewestFirstAndPrintsOrSavesTheSelectedCertificate)
{
    store(3);
    testsupport::FakeDrives drives;
    testsupport::FastClock clock;
    app::Form1 main({&drives, &prompter, &clock}, [] {});
    auto* item = main.findChild<QAction*>("mnuRecords");
    ASSERT_NE(item, nullptr);
    item->trigger();
    records::frmRecords* w = records::recordsWindow();
    ASSERT_TRUE(w && w->isVisible());
    item->trigger();
    ASSERT_EQ(records::recordsWindow(), w);
    const QAbstractItemModel* model = w->tblRecords->model();
    ASSERT_EQ(model->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(model->index(row, 0).data().toInt(), 3 - row);
    // How it ended comes first; times in this computer's zone.
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString() + '|' + model->headerData(2, Qt::Horizontal).toString(),
              "Outcome|Verification");
    EXPECT_EQ(model->index(0, 7).data().toString() + '|' + model->index(0, 8).data().toString(), "G: [/media/stick]|7 of 10");
    const QModelIndex started = model->index(0, 3);
    const auto* times = qobject_cast<const QStyledItemDelegate*>(w->tblRecords->itemDelegateForColumn(3));
    ASSERT_NE(times, nullptr);
    EXPECT_TRUE(times->displayText(started.data(), QLocale()).startsWith("2026-03-04 05:06:07 "));

    // Print: through the viewer's printer (a PDF file here), the newest.
    const QString printed = tmp.filePath("printed.pdf");
    info::setPrinterSource([&]() -> std::unique_ptr<QPagedPaintDevice> {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFileName(printed);
        return printer;
    });
    w->cmdPrint->click();
    EXPECT_TRUE(readPdf(printed).text.contains("Wipe record 3 of Zarvex Drive Wiper"));

    // Save as PDF: the oldest, where the file chooser says; Cancel saves nothing.
    w->tblRecords->selectRow(2);
    QString answer = tmp.filePath("saved.pdf");
    w->choosePdfFile = [&](QWidget*, const QString& suggested) {
        EXPECT_TRUE(suggested.endsWith("wipe-certificate-1.pdf")) << suggested.toStdString();
        return answer;
    };
    w->cmdSavePdf->click();
    const PdfText page = readPdf(answer);
    EXPECT_EQ(page.pages, 1);
    for (const char* words :
         {"Certificate of Data Erasure", "Wipe record 1 of Zarvex Drive Wiper", "Record number 1",
          "Security Wipe Entire Drive", "Wipe level Complete Wipe", "Passes done 7 of 10", "Started 2026-03-04 05:06:07",
          "Ended 2026-03-04 08:09:10", "Bytes written 123,456,789 bytes (117.74 MiB)", "Drive letter E:",
          "Mount point /media/stick", "Device /dev/sdz1", "File system ntfs", "Label STICK LABEL", "UUID 0123ABCD4567EF89",
          "Size 32,000,000,000 bytes (29.80 GiB)", "File /media/stick/docs/file0.doc (1,000 bytes)",
          "File /media/stick/docs/file1.doc (1,001 bytes)", "More 8 more, listed in the wipe record",
          "Verification Failed: tmptxt3.txt: byte 42 of 5000 differs from what was written",
          "Outcome Stopped: Error 61: Disk full: /media/stick/tmptxt4.txt", "Notes Part of the free space was out of reach.",
          "Computer auditor-pc", "User alice", "Program Zarvex Drive Wiper 5.4.0.1", "Wiped by", "Witness", "Name",
          "Signature", "Date"})
        EXPECT_TRUE(page.text.contains(words)) << words << "\n in: " << page.text.toStdString();
    answer.clear();
    w->cmdSavePdf->click();

    // Nothing selected, or a folder that is not there: said, not silent.
    EXPECT_FALSE(w->saveAsPdf(tmp.filePath("no/such/folder/x.pdf")));
    w->tblRecords->clearSelection();
    w->cmdPrint->click();
    ASSERT_EQ(prompter.texts.size(), 2);
    EXPECT_TRUE(prompter.texts[0].startsWith("The certificate could not be saved."));
    EXPECT_EQ(prompter.texts[1], "Choose a record in the list first.");
}

// A file that is not a records database is said once, with its name; the
// wipe goes on without a record and the window shows none.
TEST_F(Records, DamagedFileIsReportedOnceAndNothingStops)
{
    const QString file = records::Store::defaultFile();
    QFile junk(file);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()) && junk.open(QIODevice::WriteOnly) &&
                junk.write(QByteArray(8192, 'x')) == 8192);
    junk.close();
    for (int i = 0; i < 2; ++i) {
        records::Recorder r(fullRecord(), prompter);
        EXPECT_FALSE(r.kept());
        r.complete(records::Outcome::Completed);
    }
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].contains(file)) << prompter.texts[0].toStdString();
    EXPECT_TRUE(prompter.texts[0].endsWith("The wipe goes on, but it leaves no record for a certificate."));
    EXPECT_EQ(records::frmRecords(prompter).lblFile->text(), "The list shows no wipe records.");
}

TEST_F(Records, ConsoleListsTheRecordsAndWritesACertificate)
{
    const QString beside = QCoreApplication::applicationDirPath() + "/zarvexwipe";
    const QString program = QFileInfo::exists(beside) ? beside : ZARVEX_BUILD_BIN_DIR "/zarvexwipe";
    if (!QFileInfo::exists(program))
        GTEST_SKIP() << "zarvexwipe is not built";
    store(2);
    QString out;
    const auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(30000))
            return -1;
        // what went wrong goes to standard error
        out = QString::fromLocal8Bit(p.readAllStandardOutput() + (p.exitCode() ? p.readAllStandardError() : ""));
        return p.exitCode();
    };
    EXPECT_EQ(run({"records"}), 0);
    const QStringList lines = out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3) << out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("ID  Started") &&
                lines[1].contains(QRegularExpression("^2   2026-03-04 05:06:07 \\S+  2026-03-04 08:09:10 \\S+  Security "
                                                     "Wipe Entire Drive")) &&
                lines[1].simplified().endsWith("F: [/media/stick] 7/10 failed stopped")) << out.toStdString();
    // Every column starts where its heading does.
    for (const char* heading : {"Process", "Drive", "Outcome"})
        EXPECT_EQ(lines[0].indexOf(heading), lines[1].indexOf(QRegularExpression(heading == QByteArray("Process") ? "Security"
                                                                                 : heading == QByteArray("Drive") ? "F: \\["
                                                                                                                  : "stopped")))
            << out.toStdString();

    EXPECT_EQ(run({"records", "--pdf", tmp.filePath("newest.pdf")}), 0);
    EXPECT_TRUE(readPdf(tmp.filePath("newest.pdf")).text.contains("Wipe record 2 "));
    EXPECT_EQ(run({"records", "--pdf", tmp.filePath("first.pdf"), "1"}), 0);
    EXPECT_TRUE(readPdf(tmp.filePath("first.pdf")).text.contains("Wipe record 1 "));
    EXPECT_EQ(run({"records", "--pdf", tmp.filePath("x.pdf"), "9"}), 1);
    EXPECT_TRUE(out.contains("There is no wipe record 9.")) << out.toStdString();
    EXPECT_EQ(run({"records", "1"}), 2);
    EXPECT_TRUE(out.contains("a record number goes with --pdf FILE")) << out.toStdString();
}
