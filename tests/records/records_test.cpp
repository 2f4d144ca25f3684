// The wipe records as the user meets them: the certificate's page, the
// records window (listing, printing, saving as PDF, opened from the main
// window's File menu), the console's records command, and a records file
// that cannot be used. Records live in this test process's own state folder.
#include "app/form1.h"
#include "info/infoprint.h"
#include "records/certificate.h"
#include "records/frmrecords.h"
#include "records/recorder.h"
#include "records/store.h"
#include "support/fakes.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPagedPaintDevice>
#include <QProcess>
#include <QPrinter>
#include <QPushButton>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using records::WipeRecord;

namespace {

// The words of a PDF's text in reading order, one blank between them, and
// its page count.
struct PdfText {
    QString text;
    int pages = 0;
};
PdfText readPdf(const QString& pdf)
{
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    if (!p.waitForFinished(20000))
        return {};
    const QString raw = QString::fromUtf8(p.readAllStandardOutput());
    return {raw.simplified(), int(raw.count(u'\f'))};
}

// A record with a value in every field, none of them alike.
WipeRecord fullRecord(int items)
{
    WipeRecord r;
    r.started = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    r.ended = QDateTime(QDate(2026, 3, 4), QTime(8, 9, 10));
    r.process = records::ProcessKind::EntireDrive;
    r.level = "Complete Wipe";
    r.passesDone = 7;
    r.passesPlanned = 10;
    r.drive = {"E:", "/media/stick", "/dev/sdz1", "ntfs", "STICK LABEL", "0123ABCD4567EF89", 32'000'000'000};
    for (int i = 0; i < items; ++i)
        r.items << records::WipedItem{QStringLiteral("/media/stick/docs/file%1.doc").arg(i), 1000 + i, false};
    r.bytesWritten = 123'456'789;
    r.verification = platform::Verification::Failed;
    r.verificationDetail = "tmptxt3.txt: byte 42 of 5000 differs from what was written";
    r.outcome = records::Outcome::Stopped;
    r.errorNumber = 61;
    r.errorText = "Disk full: /media/stick/tmptxt4.txt";
    r.notes = "Part of the free space was out of reach.";
    r.host = "auditor-pc";
    r.user = "alice";
    r.version = "5.4.0.1";
    return r;
}

QString programPath()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/zarvexwipe";
    return QFileInfo::exists(beside) ? beside : QStringLiteral(ZARVEX_BUILD_BIN_DIR) + "/zarvexwipe";
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
        if (records::frmRecords* w = records::recordsWindow())
            delete w;
    }
    // Stores records 1 to n, record n the newest.
    void store(int n)
    {
        records::Store s;
        for (int i = 1; i <= n; ++i) {
            WipeRecord r = fullRecord(1);
            r.drive.letter = QStringLiteral("%1:").arg(QChar('D' + i));
            ASSERT_EQ(s.add(r), i);
        }
    }
};

TEST_F(Records, CertificateStatesEveryFieldOnOnePageReadyToSign)
{
    for (const int items : {2, 20}) {
        WipeRecord r = fullRecord(items);
        r.id = 17;
        const QString pdf = tmp.filePath(QStringLiteral("certificate%1.pdf").arg(items));
        records::saveCertificatePdf(r, pdf);
        const PdfText page = readPdf(pdf);
        EXPECT_EQ(page.pages, 1) << items << " items";
        QStringList expected{
            "Certificate of Data Erasure", "Wipe record 17", "Record number 17", "Security Wipe Entire Drive",
            "Wipe level Complete Wipe", "Passes done 7 of 10", "Started 2026-03-04 05:06:07",
            "Ended 2026-03-04 08:09:10", "Bytes written 123,456,789 bytes (117.74 MiB)", "Drive letter E:",
            "Mount point /media/stick", "Device /dev/sdz1", "File system ntfs", "Label STICK LABEL",
            "UUID 0123ABCD4567EF89", "Size 32,000,000,000 bytes (29.80 GiB)",
            "File /media/stick/docs/file0.doc (1,000 bytes)", "File /media/stick/docs/file1.doc (1,001 bytes)",
            "Verification Failed: tmptxt3.txt: byte 42 of 5000 differs from what was written",
            "Outcome Stopped: Error 61: Disk full: /media/stick/tmptxt4.txt", "Notes Part of the free space was out of reach.",
            "Computer auditor-pc", "User alice", "Program Zarvex Drive Wiper 5.4.0.1", "Wiped by", "Witness", "Name",
            "Signature", "Date"};
        if (items == 20)
            expected << "More 8 more, listed in the wipe record";
        for (const QString& words : expected)
            EXPECT_TRUE(page.text.contains(words)) << words.toStdString() << "\n in: " << page.text.toStdString();
    }
}

TEST_F(Records, WindowListsNewestFirstAndPrintsOrSavesTheSelectedCertificate)
{
    store(3);
    records::frmRecords w(prompter);
    auto* model = qobject_cast<QSqlQueryModel*>(w.tblRecords->model());
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "ID");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(model->index(row, 0).data().toInt(), 3 - row);
    EXPECT_EQ(model->index(0, 5).data().toString(), "G: [/media/stick]");
    EXPECT_EQ(model->index(0, 6).data().toString(), "7 of 10");

    // Print: through the viewer's printer (a PDF file here), the newest.
    const QString printed = tmp.filePath("printed.pdf");
    info::setPrinterSource([&]() -> std::unique_ptr<QPagedPaintDevice> {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFileName(printed);
        return printer;
    });
    w.cmdPrint->click();
    EXPECT_TRUE(readPdf(printed).text.contains("Wipe record 3 of Zarvex Drive Wiper"));

    // Save as PDF: the oldest, where the file chooser says; Cancel saves nothing.
    w.tblRecords->selectRow(2);
    QString answer = tmp.filePath("saved.pdf");
    w.choosePdfFile = [&](QWidget*, const QString& suggested) {
        EXPECT_TRUE(suggested.endsWith("wipe-certificate-1.pdf")) << suggested.toStdString();
        return answer;
    };
    w.cmdSavePdf->click();
    EXPECT_TRUE(readPdf(answer).text.contains("Wipe record 1 of Zarvex Drive Wiper"));
    answer.clear();
    w.cmdSavePdf->click();

    // Nothing selected, or a folder that is not there: said, not silent.
    EXPECT_FALSE(w.saveAsPdf(tmp.filePath("no/such/folder/x.pdf")));
    w.tblRecords->clearSelection();
    w.cmdPrint->click();
    ASSERT_EQ(prompter.texts.size(), 2);
    EXPECT_TRUE(prompter.texts[0].startsWith("The certificate could not be saved."));
    EXPECT_EQ(prompter.texts[1], "Choose a record in the list first.");
}

TEST_F(Records, MainWindowFileMenuOpensOneRecordsWindow)
{
    store(1);
    testsupport::FakeDrives drives;
    testsupport::FastClock clock;
    app::Form1 main({&drives, &prompter, &clock}, [] {});
    auto* item = main.findChild<QAction*>("mnuRecords");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Wipe &Records...");
    item->trigger();
    records::frmRecords* first = records::recordsWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    item->trigger();
    EXPECT_EQ(records::recordsWindow(), first);
    EXPECT_EQ(first->tblRecords->model()->rowCount(), 1);
}

// A file that is not a records database is said once, with its name; the
// wipe goes on without a record and the window shows none.
TEST_F(Records, DamagedFileIsReportedOnceAndNothingStops)
{
    const QString file = records::Store::defaultFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    QFile junk(file);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(8192, 'x')) == 8192);
    junk.close();
    for (int i = 0; i < 2; ++i) {
        records::Recorder r(fullRecord(0), prompter);
        EXPECT_FALSE(r.kept());
        r.complete(records::Outcome::Completed);
    }
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].contains(file)) << prompter.texts[0].toStdString();
    EXPECT_TRUE(prompter.texts[0].endsWith("The wipe goes on, but it leaves no record for a certificate."));
    records::frmRecords w(prompter);
    EXPECT_EQ(w.lblFile->text(), "The list shows no wipe records.");
}

TEST_F(Records, ConsoleListsTheRecordsAndWritesACertificate)
{
    if (!QFileInfo::exists(programPath()))
        GTEST_SKIP() << "zarvexwipe is not built";
    store(2);
    auto run = [](const QStringList& args, QString* out = nullptr) {
        QProcess p;
        p.start(programPath(), args);
        if (!p.waitForFinished(30000))
            return -1;
        if (out) // what went wrong goes to standard error
            *out = QString::fromLocal8Bit(p.readAllStandardOutput() + (p.exitCode() ? p.readAllStandardError() : ""));
        return p.exitCode();
    };
    QString out;
    EXPECT_EQ(run({"records"}, &out), 0);
    const QStringList lines = out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3) << out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("ID    Started")) << out.toStdString();
    EXPECT_TRUE(lines[1].startsWith("2     2026-03-04 05:06:07  2026-03-04 08:09:10  Security Wipe Entire Drive"))
        << out.toStdString();
    EXPECT_TRUE(lines[1].simplified().endsWith("F: [/media/stick] 7/10 failed stopped")) << out.toStdString();

    EXPECT_EQ(run({"records", "--pdf", tmp.filePath("newest.pdf")}), 0);
    EXPECT_TRUE(readPdf(tmp.filePath("newest.pdf")).text.contains("Wipe record 2 "));
    EXPECT_EQ(run({"records", "--pdf", tmp.filePath("first.pdf"), "1"}), 0);
    EXPECT_TRUE(readPdf(tmp.filePath("first.pdf")).text.contains("Wipe record 1 "));
    EXPECT_EQ(run({"records", "--pdf", tmp.filePath("x.pdf"), "9"}, &out), 1);
    EXPECT_TRUE(out.contains("There is no wipe record 9.")) << out.toStdString();
    EXPECT_EQ(run({"records", "1"}, &out), 2);
    EXPECT_TRUE(out.contains("a record number goes with --pdf FILE")) << out.toStdString();
}
