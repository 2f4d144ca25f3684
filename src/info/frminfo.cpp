// The viewer holds a connection and a recordset on "MiscInfo" while it is
// open and lets both go when it closes, so the next topic opens a freshly
// loaded viewer on whatever the database holds then. A database that cannot
// be read is reported once (the info database layer's rule) and leaves an
// empty text under the topic's heading: the window stays usable.
#include "info/frminfo.h"

#include "session/settings.h"
#include "controls/bringtofront.h"
#include "controls/defaultbutton.h"
#include "controls/screenfit.h"
#include "info/infoprint.h"
#include "info/logo.h"
#include "infodb/infodb.h"
#include "platform/errors.h"
#include "platform/prompter.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPagedPaintDevice>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace info {

namespace {
// What the viewer shows for a key it does not know.
const QString kDesignTitle = QStringLiteral("Orvane Software Information");
const QString kDesignHeading = QStringLiteral("Information");

frmInfo* theViewer = nullptr;

} // namespace

const QList<InfoTopicRow>& infoTopics()
{
    static const QList<InfoTopicRow> rows = {
        {"ReadMe", "Drive Wiper Read Me File", "Orvane Software Read Me File", "ReadMe"},
        {"DriveWipe", "Complete Drive Wipe Instructions", "Orvane Software Drive Wipe Instructions", "DRWipe"},
        {"FolderWipe", "Folder Wipe Basic Instructions", "Orvane Software Folder Wipe Instructions", "FoldWipe"},
        {"FileWipe", "File Wipe Basic Instructions", "Orvane Software File Wipe Instructions", "FileWipe"},
        {"EULA", "End User License Agreement - EULA", "Orvane Software EULA", "EULA"},
        {"FAQ", "Frequently Asked Questions", "Orvane Software FAQs or Frequently Asked Questions", "FAQ"},
        {"CRInfo", "Copyright Information", "Orvane Software Copyright Statement", "CRInfo"},
        {"RegSafe", "Safeguards", "Orvane Drive Wiper Safeguards", "RegSafe"},
        {"CandD", "Cautions and Disclaimers", "Orvane Drive Wiper Cautions and Disclaimers", "CandD"},
        {"RegPrivate", "Privacy Policy", "Orvane Software Privacy and Disclosure Policies", "RegPrivate"},
        {"GenWipe", "General Wipe Information", "Orvane Drive Wiper General Information", "GenWipe"},
        {"WipeFree", "Wipe Free Space", "Orvane Wipe Free Space Instructions", "FreeWipe"},
        {"Stops", "IF Wipe Process Stops", "Orvane Wipe Process Stops Without Completing", "stops"},
    };
    return rows;
}

const InfoTopicRow* findInfoTopic(const QString& key)
{
    for (const InfoTopicRow& row : infoTopics())
        if (row.key == key)
            return &row;
    return nullptr;
}

frmInfo::frmInfo(platform::Prompter& prompter) : prompter_(prompter)
{
    setObjectName(QStringLiteral("frmInfo"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildUi();
    controls::DefaultButton::install(this, Command1);
}

frmInfo::~frmInfo()
{
    if (theViewer == this)
        theViewer = nullptr;
}

void frmInfo::buildUi()
{
    setWindowTitle(kDesignTitle);
    auto* outer = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    Picture1 = makeLogo(QStringLiteral("Picture1"));
    Label1 = new QLabel(kDesignHeading);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    QFont headingFont = Label1->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.4);
    Label1->setFont(headingFont);
    Picture2 = makeLogo(QStringLiteral("Picture2"));
    top->addWidget(Picture1);
    top->addWidget(Label1, 1);
    top->addWidget(Picture2);
    outer->addLayout(top);

    Text1 = new QPlainTextEdit;
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    outer->addWidget(Text1, 1);

    auto* buttons = new QHBoxLayout;
    Command2 = new QPushButton(QStringLiteral("&Print"));
    Command2->setObjectName(QStringLiteral("Command2"));
    Command1 = new QPushButton(QStringLiteral("&Close Window"));
    Command1->setObjectName(QStringLiteral("Command1"));
    buttons->addStretch(1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    buttons->addStretch(1);
    outer->addLayout(buttons);

    connect(Command1, &QPushButton::clicked, this, &frmInfo::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmInfo::Command2_Click);
    controls::resizeWithinScreen(this, QSize(680, 520));
}

void frmInfo::form_load()
{
    const InfoTopicRow* topic = findInfoTopic(session::settings().InfoTopic);
    if (topic) {
        Label1->setText(topic->heading);
        setWindowTitle(topic->title);
    }
    try {
        db_ = infodb::Connection::open();
        MiscInfo_ = infodb::Recordset(db_, QString::fromLatin1(infodb::kHelpTable));
        if (topic)
            Text1->setPlainText(topicText(topic->column));
    } catch (const platform::RunTimeError& e) {
        Text1->clear();
        infodb::reportOnce(prompter_, e);
    }
}

QString frmInfo::topicText(const QString& column) const
{
    if (MiscInfo_.eof())
        throw platform::RunTimeError(platform::ErrObjectNotSet,
                                     QStringLiteral("%1: table \"MiscInfo\" has no record").arg(db_.file()));
    const QString text = MiscInfo_.text(column);
    if (text.isEmpty())
        throw platform::RunTimeError(
            platform::ErrObjectNotSet,
            QStringLiteral("%1: column \"%2\" of \"MiscInfo\" is empty").arg(db_.file(), column));
    return text;
}

void frmInfo::Command2_Click()
{
    try {
        std::unique_ptr<QPagedPaintDevice> printer = openPrinter();
        if (!printer)
            return; // the dialog was cancelled
        printHelpText(*printer, Label1->text(), Text1->toPlainText());
    } catch (const platform::RunTimeError& e) {
        // A failure other than the printer's own still gets a message: a
        // print that did not happen must not look as if it had.
        const QString message = printerMessage(e.number());
        prompter_.message(message.isEmpty() ? e.description() : message);
    }
}

void frmInfo::Command1_Click()
{
    close();
}

void frmInfo::closeEvent(QCloseEvent* event)
{
    releaseDatabase();
    if (theViewer == this)
        theViewer = nullptr;
    event->accept();
}

void frmInfo::releaseDatabase()
{
    MiscInfo_.release();
    MiscInfo_ = infodb::Recordset();
    db_.release();
}

frmInfo* showInfoWindow(platform::Prompter& prompter)
{
    if (!theViewer) {
        theViewer = new frmInfo(prompter);
        theViewer->form_load();
    }
    controls::bringToFront(theViewer);
    return theViewer;
}

frmInfo* infoWindow()
{
    return theViewer;
}

} // namespace info
