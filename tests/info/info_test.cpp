// The help menus of both windows, the viewer on the built database, its
// printing (to PDF through the printer's code path) and the about window.
#include "../infodb/dbfiles.h"
#include "app/form1.h"
#include "info/frmabout.h"
#include "info/frminfo.h"
#include "info/infoprint.h"
#include "info/menus.h"
#include "infodb/infodb.h"
#include "support/fakes.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

using namespace info;

namespace {
struct Topic { const char *item, *heading, *title, *column; };
// Main window entries; the second window's entries of the same name open the same topics.
const Topic kTopics[] = {
    {"GenWipe", "General Wipe Information", "Orvane Drive Wiper General Information", "GenWipe"},
    {"DriveWipe", "Complete Drive Wipe Instructions", "Orvane Software Drive Wipe Instructions", "DRWipe"},
    {"WipeFolder", "Folder Wipe Basic Instructions", "Orvane Software Folder Wipe Instructions", "FoldWipe"},
    {"FileWipe", "File Wipe Basic Instructions", "Orvane Software File Wipe Instructions", "FileWipe"},
    {"WipeFree", "Wipe Free Space", "Orvane Wipe Free Space Instructions", "FreeWipe"},
    {"stops", "IF Wipe Process Stops", "Orvane Wipe Process Stops Without Completing", "stops"},
    {"Protects", "Safeguards", "Orvane Drive Wiper Safeguards", "RegSafe"},
    {"ReadMe", "Drive Wiper Read Me File", "Orvane Software Read Me File", "ReadMe"},
    {"copyright", "Copyright Information", "Orvane Software Copyright Statement", "CRInfo"},
    {"CD", "Cautions and Disclaimers", "Orvane Drive Wiper Cautions and Disclaimers", "CandD"},
    {"FAQ", "Frequently Asked Questions", "Orvane Software FAQs or Frequently Asked Questions", "FAQ"},
    {"EULA", "End User License Agreement - EULA", "Orvane Software EULA", "EULA"},
    {"Privacy", "Privacy Policy", "Orvane Software Privacy and Disclosure Policies", "RegPrivate"},
};

struct Word { int page; double y; QString text; };
// Words of a PDF with their page and top, as poppler extracts them.
QList<Word> pdfWords(const QString& pdf)
{
    QProcess p;
    p.start("pdftotext", {"-bbox", pdf, "-"});
    p.waitForFinished();
    QList<Word> words;
    int page = 0;
    static const QRegularExpression re(R"re(<page |<word xMin="[\d.]+" yMin="([\d.]+)"[^>]*>([^<]*)</word>)re");
    for (auto it = re.globalMatch(QString::fromUtf8(p.readAllStandardOutput())); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith("<page"))
            ++page;
        else
            words << Word{page, m.captured(1).toDouble(), m.captured(2)};
    }
    return words;
}

std::unique_ptr<QPagedPaintDevice> pdfPrinter(const QString& pdf)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFileName(pdf); // .pdf: Qt's PDF engine
    return printer;
}
} // namespace

class InfoTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    QList<QUrl> mailed;
    bool mailOpens = true;
    std::unique_ptr<app::Form1> form1;
    QMainWindow bare; // stands in for the folder and file wipe window
    QMap<QString, QAction*> second;

    void SetUp() override
    {
        session::settings() = session::ProcessSettings{};
        infodb::setDatabasePath(infodbtest::builtDatabase());
        infodb::resetReports();
        setUrlOpener([this](const QUrl& url) { mailed << url; return mailOpens; });
        form1 = std::make_unique<app::Form1>(platform::Services{&drives, &prompter, &clock}, [] {});
        second = addHelpMenus(bare.menuBar(), MenuWindow::FileWipe);
        connectHelpMenus(second, MenuWindow::FileWipe, &bare, prompter);
        prompter.texts.clear();
    }
    void TearDown() override
    {
        if (frmInfo* v = infoWindow())
            v->Command1_Click();
        if (frmAbout* a = aboutWindow())
            a->Command1_Click();
        setUrlOpener({});
        setPrinterSource({});
        infodb::setDatabasePath({});
    }
};

// Another entry while the viewer is open only brings it forward; closed, it
// has let the database go and the next entry loads a new one.
TEST_F(InfoTest, EveryTopicEntryOfBothWindowsShowsItsHeadingTitleAndText)
{
    const infodb::Connection db(infodbtest::builtDatabase());
    for (const Topic& t : kTopics) {
        for (QAction* entry : {form1->menuItems.value(t.item), second.value(t.item)}) {
            if (!entry)
                continue; // not in the second window
            SCOPED_TRACE(t.item);
            entry->trigger();
            frmInfo* v = infoWindow();
            ASSERT_TRUE(v);
            second.value("stops")->trigger();
            EXPECT_EQ(infoWindow(), v);
            EXPECT_EQ(v->Label1->text() + '|' + v->windowTitle(), QString(t.heading) + '|' + t.title);
            EXPECT_EQ(v->Text1->toPlainText(), infodb::readTopic(db, t.column));
            v->Command1_Click();
            EXPECT_FALSE(v->holdsDatabase());
        }
    }
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join('|').toStdString();
}

// A key the viewer does not know keeps the design texts. A database it cannot
// read is said once however often the viewer opens, and the viewer stays
// usable, empty under the topic's heading.
TEST_F(InfoTest, UnknownKeyOrUnreadableDatabaseGivesAnEmptyViewer)
{
    const QString copy = infodbtest::copyOfBuilt(tmp.path());
    const struct { const char *key, *damage; } cases[] = { // damage: none (nullptr), no file (""), or SQL
        {"", nullptr}, {"wipefree", nullptr}, {"FreeWipe", nullptr}, {"WipeFree", ""},
        {"WipeFree", "UPDATE MiscInfo SET FreeWipe = NULL"}, {"WipeFree", "ALTER TABLE MiscInfo DROP COLUMN FreeWipe"},
        {"WipeFree", "DELETE FROM MiscInfo"}, {"WipeFree", "DROP TABLE MiscInfo"}};
    for (const auto& [key, damage] : cases) {
        SCOPED_TRACE(std::string(key) + " / " + (damage ? damage : "intact"));
        if (damage && *damage) {
            ASSERT_EQ(QProcess::execute("sqlite3", {copy, damage}), 0);
        }
        if (damage)
            infodb::setDatabasePath(*damage ? copy : tmp.filePath("absent.db"));
        session::settings().InfoTopic = key;
        prompter.texts.clear();
        for (int open = 0; open < 2; ++open) {
            frmInfo* v = showInfoWindow(prompter);
            EXPECT_EQ(v->Label1->text() + '|' + v->windowTitle() + '|' + v->Text1->toPlainText(),
                      damage ? "Wipe Free Space|Orvane Wipe Free Space Instructions|" : "Information|Orvane Software Information|");
            EXPECT_TRUE(v->isVisible());
            v->Command1_Click();
        }
        EXPECT_EQ(prompter.texts.size(), damage ? 1 : 0);
    }
}

// A printer that is not set up, or one that fails, is said; a print that did
// not happen must not look as if it had.
TEST_F(InfoTest, PrintsHeadingAfterFourEmptyLinesThenTheWholeTextOverPagesInTimesOrSaysWhyNot)
{
    form1->menuItems.value("GenWipe")->trigger();
    // Without a source set, Print opens the print dialog; Cancel prints
    // nothing and says nothing.
    setPrinterSource({});
    bool dialogShown = false;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
            dialogShown = true;
            dialog->reject();
        }
    });
    infoWindow()->Command2_Click();
    EXPECT_TRUE(dialogShown);
    EXPECT_TRUE(prompter.texts.isEmpty());
    setPrinterSource([] { return defaultPrinter(QPrinterInfo()); });
    infoWindow()->Command2_Click();
    setPrinterSource([this] { return pdfPrinter(tmp.filePath("no/such/folder/x.pdf")); });
    infoWindow()->Command2_Click();
    EXPECT_EQ(prompter.texts, QStringList({"There is a problem with your printer\r\nmake sure your printer is properly "
                                           "set up and turned on", "There is an unspecified printer error"}));

    setPrinterSource([this] { return pdfPrinter(tmp.filePath("help.pdf")); });
    QString text = "Opening paragraph:";
    for (int i = 1; i <= 150; ++i)
        text += QString(" w%1").arg(i); // far wider than the page
    for (int i = 1; i <= 120; ++i)
        text += QString("\nL%1").arg(i);
    infoWindow()->Text1->setPlainText(text);
    infoWindow()->Command2_Click();

    const QList<Word> words = pdfWords(tmp.filePath("help.pdf"));
    ASSERT_GT(words.size(), 270);
    QStringList order;
    for (const Word& w : words)
        order << w.text;
    EXPECT_EQ(order.mid(0, 3).join(' '), "GENERAL WIPE INFORMATION");
    EXPECT_EQ(order.indexOf("w150") + 1, order.indexOf("L1")); // wrapped, nothing cut off
    const auto at = [&](const char* t) { return words[order.indexOf(t)]; };
    const double spacing = at("L2").y - at("L1").y;
    EXPECT_NEAR(spacing, 13.8, 0.5); // 12-point Times (metric-compatible face)
    EXPECT_NEAR(at("Opening").y - words[0].y, 3 * spacing, 0.5);
    EXPECT_GE(words.last().page, 2);
    EXPECT_EQ(words.last().text, "L120");
    const Word page2Top = *std::find_if(words.begin(), words.end(), [](const Word& w) { return w.page == 2; });
    EXPECT_NEAR(words[0].y - page2Top.y, 4 * spacing, 0.5);
    QFile pdf(tmp.filePath("help.pdf"));
    EXPECT_TRUE(pdf.open(QIODevice::ReadOnly) && pdf.readAll().contains(QFontInfo(QFont("Times New Roman")).family().remove(' ').toLatin1()));
}

// Tutorials only say they are not included; Contact opens the support mail or,
// with no mail program, says where to write.
TEST_F(InfoTest, TutorialContactAndAboutEntries)
{
    for (const auto& items : {form1->menuItems, second})
        for (const char* name : {"CVT", "DrW", "FoW", "FiW", "SafeguardsTutorial"})
            items.value(name)->trigger();
    form1->menuItems.value("Contact")->trigger();
    EXPECT_EQ(prompter.texts, QStringList(10, "Tutorials are not included in the Download version"));
    EXPECT_FALSE(infoWindow() || aboutWindow());
    ASSERT_EQ(mailed.size(), 1);
    EXPECT_EQ(mailed[0].toEncoded(), "mailto:support@orvane.example?subject=Re:%20Orvane%20Drive%20Wiper%20Customer%20Support");

    mailOpens = false;
    second.value("Contact")->trigger();
    ASSERT_EQ(prompter.texts.size(), 11);
    EXPECT_TRUE(prompter.texts.last().contains("support@orvane.example"));

    // One about window, brought to the front.
    form1->menuItems.value("About1")->trigger();
    frmAbout* about = aboutWindow();
    ASSERT_TRUE(about);
    form1->menuItems.value("GenWipe")->trigger(); // the viewer takes the front
    second.value("About1")->trigger();
    EXPECT_EQ(aboutWindow(), about);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), about);
    about->Command1_Click();
    EXPECT_EQ(aboutWindow(), nullptr);
}
