#include "records/frmrecords.h"
#include "controls/bringtofront.h"
#include "controls/defaultbutton.h"
#include "controls/screenfit.h"
#include "info/infoprint.h"
#include "platform/errors.h"
#include "platform/prompter.h"
#include "records/certificate.h"
#include "records/recorder.h"
#include "records/store.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPagedPaintDevice>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace records {

namespace {

frmRecords* theWindow = nullptr;

const QString kNoRecords = QStringLiteral("The list shows no wipe records.");

// The columns of the list: heading and the SQL that gives it.
const struct {
    const char* heading;
    const char* sql;
} kColumns[] = {
    // How it ended first: seen without scrolling, however long the rest.
    {"ID", "id"},
    {"Outcome", "outcome"},
    {"Verification", "verification"},
    {"Started", "started"},
    {"Ended", "ended"},
    {"Process", "process"},
    {"Level", "level"},
    {"Drive", "drive_letter || ' [' || mount_point || ']'"},
    {"Passes", "passes_done || ' of ' || passes_planned"},
};

// The stored times (ISO, with the offset they were taken in) shown in this
// computer's time and zone.
class LocalTimeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale&) const override
    {
        return localTimeText(QDateTime::fromString(value.toString(), Qt::ISODate));
    }
};

QString listQuery()
{
    QStringList fields;
    for (const auto& c : kColumns)
        fields << QLatin1String(c.sql);
    return QStringLiteral("SELECT %1 FROM %2 ORDER BY id DESC")
        .arg(fields.join(QStringLiteral(", ")), QLatin1String(kRecordsTable));
}

} // namespace

frmRecords::frmRecords(platform::Prompter& prompter, const QString& file)
    : prompter_(prompter), file_(file.isEmpty() ? Store::defaultFile() : file)
{
    setObjectName(QStringLiteral("frmRecords"));
    setAttribute(Qt::WA_DeleteOnClose);
    choosePdfFile = [](QWidget* parent, const QString& suggested) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Certificate as PDF"), suggested,
                                            QStringLiteral("PDF files (*.pdf)"));
    };
    buildUi();
    controls::DefaultButton::install(this, cmdClose);
    reload();
}

frmRecords::~frmRecords()
{
    release();
    if (theWindow == this)
        theWindow = nullptr;
}

void frmRecords::buildUi()
{
    setWindowTitle(QStringLiteral("Wipe Records"));
    auto* outer = new QVBoxLayout(this);
    lblFile = new QLabel;
    lblFile->setObjectName(QStringLiteral("lblFile"));
    lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lblFile);

    tblRecords = new QTableView;
    tblRecords->setObjectName(QStringLiteral("tblRecords"));
    tblRecords->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblRecords->setSelectionMode(QAbstractItemView::SingleSelection);
    tblRecords->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblRecords->verticalHeader()->hide();
    tblRecords->horizontalHeader()->setStretchLastSection(true);
    auto* times = new LocalTimeDelegate(tblRecords);
    for (int i = 0; i < int(std::size(kColumns)); ++i)
        if (QByteArrayView(kColumns[i].sql) == "started" || QByteArrayView(kColumns[i].sql) == "ended")
            tblRecords->setItemDelegateForColumn(i, times);
    outer->addWidget(tblRecords, 1);

    auto* buttons = new QHBoxLayout;
    cmdPrint = new QPushButton(QStringLiteral("&Print"));
    cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    cmdSavePdf = new QPushButton(QStringLiteral("Save as P&DF"));
    cmdSavePdf->setObjectName(QStringLiteral("cmdSavePdf"));
    cmdClose = new QPushButton(QStringLiteral("&Close Window"));
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    buttons->addStretch(1);
    for (QPushButton* b : {cmdPrint, cmdSavePdf, cmdClose})
        buttons->addWidget(b);
    buttons->addStretch(1);
    outer->addLayout(buttons);

    connect(cmdPrint, &QPushButton::clicked, this, &frmRecords::cmdPrint_Click);
    connect(cmdSavePdf, &QPushButton::clicked, this, &frmRecords::cmdSavePdf_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    controls::resizeWithinScreen(this, QSize(980, 420));
}

void frmRecords::reload()
{
    try {
        if (!store_)
            store_ = std::make_unique<Store>(file_);
        if (!model_)
            model_ = new QSqlQueryModel(this);
        model_->setQuery(QSqlQuery(listQuery(), QSqlDatabase::database(store_->connectionName(), false)));
        if (model_->lastError().isValid())
            throw platform::RunTimeError(platform::ErrPathFileAccess,
                                         QStringLiteral("%1: %2").arg(file_, model_->lastError().text()));
        while (model_->canFetchMore())
            model_->fetchMore();
        for (int i = 0; i < int(std::size(kColumns)); ++i)
            model_->setHeaderData(i, Qt::Horizontal, QString::fromLatin1(kColumns[i].heading));
        tblRecords->setModel(model_);
        tblRecords->resizeColumnsToContents();
        if (model_->rowCount() > 0)
            tblRecords->selectRow(0);
        lblFile->setText(QStringLiteral("Newest first. Kept in %1").arg(file_));
    } catch (const platform::RunTimeError& e) {
        release();
        lblFile->setText(kNoRecords);
        reportOnce(prompter_, e, QStringLiteral("The window shows no records until the file can be read."));
    }
}

std::optional<WipeRecord> frmRecords::selectedRecord()
{
    if (!store_ || !model_ || !tblRecords->selectionModel())
        return std::nullopt;
    const QModelIndexList rows = tblRecords->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    const qint64 id = model_->data(model_->index(rows.first().row(), 0)).toLongLong();
    try {
        return store_->find(id);
    } catch (const platform::RunTimeError& e) {
        prompter_.message(e.description());
        return std::nullopt;
    }
}

void frmRecords::cmdPrint_Click()
{
    const std::optional<WipeRecord> record = selectedRecord();
    if (!record) {
        prompter_.message(QStringLiteral("Choose a record in the list first."));
        return;
    }
    try {
        std::unique_ptr<QPagedPaintDevice> printer = info::openPrinter();
        if (!printer)
            return; // the dialog was cancelled
        printCertificate(*printer, *record);
    } catch (const platform::RunTimeError& e) {
        const QString message = info::printerMessage(e.number());
        prompter_.message(message.isEmpty() ? e.description() : message);
    }
}

void frmRecords::cmdSavePdf_Click()
{
    const std::optional<WipeRecord> record = selectedRecord();
    if (!record) {
        prompter_.message(QStringLiteral("Choose a record in the list first."));
        return;
    }
    const QString file =
        choosePdfFile(this, QDir::home().filePath(QStringLiteral("wipe-certificate-%1.pdf").arg(record->id)));
    if (!file.isEmpty())
        saveAsPdf(file);
}

bool frmRecords::saveAsPdf(const QString& file)
{
    const std::optional<WipeRecord> record = selectedRecord();
    if (!record) {
        prompter_.message(QStringLiteral("Choose a record in the list first."));
        return false;
    }
    try {
        saveCertificatePdf(*record, file);
        return true;
    } catch (const platform::RunTimeError& e) {
        prompter_.message(QStringLiteral("The certificate could not be saved.\r\n\r\n%1").arg(e.description()));
        return false;
    }
}

void frmRecords::closeEvent(QCloseEvent* event)
{
    release();
    if (theWindow == this)
        theWindow = nullptr;
    event->accept();
}

// The model's query goes before the connection it runs on.
void frmRecords::release()
{
    tblRecords->setModel(nullptr);
    delete model_;
    model_ = nullptr;
    store_.reset();
}

frmRecords* showRecordsWindow(platform::Prompter& prompter)
{
    if (!theWindow)
        theWindow = new frmRecords(prompter);
    else
        theWindow->reload();
    controls::bringToFront(theWindow);
    return theWindow;
}

frmRecords* recordsWindow()
{
    return theWindow;
}

} // namespace records
