#include "app/frmdisk.h"
#include "controls/bringtofront.h"
#include "controls/screenfit.h"
#include "platform/disks.h"
#include "platform/newtable.h"
#include "platform/prompter.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace app {

namespace {

frmDisk* theWindow = nullptr;

// The list's columns.
enum Column { Device, Attached, Size, Model, Serial, State, Columns };
constexpr const char* kHeadings[Columns] = {"Disk", "Attached by", "Size", "Model", "Serial number", "Mounted at / why not"};

// The read-back choices, in the order of the list.
constexpr engine::DiskVerify kVerifyChoices[] = {engine::DiskVerify::Full, engine::DiskVerify::Sample};
constexpr const char* kVerifyTexts[] = {"Read all of it back",
                                        "Read a sample back (the first and last 16 MiB and 1 % between)"};

QTreeWidgetItem* diskRow(const platform::Disk& d)
{
    const QStringList refusals = platform::refusalsOf(d);
    auto* row = new QTreeWidgetItem(QStringList{d.device, d.transport, platform::diskSizeText(d.bytes), d.model,
                                                d.serial,
                                                refusals.isEmpty() ? d.mountPoints.join(QStringLiteral(", "))
                                                                   : QStringLiteral("May not be wiped: ") +
                                                                         refusals.join(QStringLiteral("; "))});
    row->setData(Device, Qt::UserRole, d.device);
    row->setData(State, Qt::UserRole, refusals.isEmpty());
    for (const platform::DiskPart& part : d.parts)
        row->addChild(new QTreeWidgetItem(QStringList{part.device, {}, platform::diskSizeText(part.bytes), {}, {},
                                                      part.mountPoints.join(QStringLiteral(", "))}));
    return row;
}

} // namespace

frmDisk::frmDisk(platform::Prompter& prompter) : prompter_(prompter)
{
    setAttribute(Qt::WA_DeleteOnClose);
    theWindow = this;
    buildUi();
    cmdRefresh_Click();
}

frmDisk::~frmDisk()
{
    if (theWindow == this)
        theWindow = nullptr;
}

void frmDisk::buildUi()
{
    setWindowTitle(QStringLiteral("Wipe Whole Disk"));
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(new QLabel(QStringLiteral("Choose the disk to wipe whole: every sector, its partition table and "
                                               "every partition included.")));
    lstDisks = new QTreeWidget;
    lstDisks->setObjectName(QStringLiteral("lstDisks"));
    lstDisks->setColumnCount(Columns);
    QStringList headings;
    for (const char* h : kHeadings)
        headings << QLatin1String(h);
    lstDisks->setHeaderLabels(headings);
    lstDisks->setSelectionMode(QAbstractItemView::SingleSelection);
    lstDisks->header()->setStretchLastSection(true);
    outer->addWidget(lstDisks, 1);

    auto* form = new QFormLayout;
    cboMethod = new QComboBox;
    cboMethod->setObjectName(QStringLiteral("cboMethod"));
    for (const QString& name : engine::diskMethodNames())
        cboMethod->addItem(engine::diskMethodTitle(*engine::diskMethodNamed(name)), name);
    spnPasses = new QSpinBox;
    spnPasses->setObjectName(QStringLiteral("spnPasses"));
    spnPasses->setRange(1, 35);
    cboVerify = new QComboBox;
    cboVerify->setObjectName(QStringLiteral("cboVerify"));
    for (const char* text : kVerifyTexts)
        cboVerify->addItem(QLatin1String(text));
    form->addRow(QStringLiteral("&Method:"), cboMethod);
    form->addRow(QStringLiteral("&Passes:"), spnPasses);
    form->addRow(QStringLiteral("&Read back:"), cboVerify);
    cboNewTable = new QComboBox;
    cboNewTable->setObjectName(QStringLiteral("cboNewTable"));
    cboNewTable->addItem(QStringLiteral("Leave the disk empty"), QString());
    for (const QString& fs : platform::newTableFileSystems())
        cboNewTable->addItem(QStringLiteral("A new partition table with one %1 partition").arg(fs), fs);
    txtLabel = new QLineEdit(QStringLiteral("DATA"));
    txtLabel->setObjectName(QStringLiteral("txtLabel"));
    form->addRow(QStringLiteral("A&fterwards:"), cboNewTable);
    form->addRow(QStringLiteral("&Label:"), txtLabel);
    outer->addLayout(form);

    lblStatus = new QLabel(QStringLiteral("Nothing is written before you answer Yes to a question that names the disk."));
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    barProgress = new QProgressBar;
    barProgress->setObjectName(QStringLiteral("barProgress"));
    barProgress->setRange(0, 1000);
    barProgress->setTextVisible(false);
    lblProgress = new QLabel;
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    for (QWidget* w : std::initializer_list<QWidget*>{lblStatus, barProgress, lblProgress})
        outer->addWidget(w);

    auto* buttons = new QHBoxLayout;
    cmdRefresh = new QPushButton(QStringLiteral("&Refresh"));
    cmdWipe = new QPushButton(QStringLiteral("&Wipe Disk"));
    cmdStop = new QPushButton(QStringLiteral("&Stop"));
    cmdClose = new QPushButton(QStringLiteral("&Close Window"));
    cmdRefresh->setObjectName(QStringLiteral("cmdRefresh"));
    cmdWipe->setObjectName(QStringLiteral("cmdWipe"));
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    buttons->addStretch(1);
    for (QPushButton* b : {cmdRefresh, cmdWipe, cmdStop, cmdClose})
        buttons->addWidget(b);
    buttons->addStretch(1);
    outer->addLayout(buttons);
    cmdStop->setEnabled(false);

    connect(lstDisks, &QTreeWidget::itemSelectionChanged, this, &frmDisk::chosenChanged);
    connect(cmdRefresh, &QPushButton::clicked, this, &frmDisk::cmdRefresh_Click);
    connect(cmdWipe, &QPushButton::clicked, this, &frmDisk::cmdWipe_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmDisk::cmdStop_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    controls::resizeWithinScreen(this, QSize(900, 480));
}

void frmDisk::cmdRefresh_Click()
{
    const QList<QTreeWidgetItem*> chosen = lstDisks->selectedItems();
    const QString was = chosen.isEmpty() ? QString() : chosen.first()->text(Device);
    lstDisks->clear();
    for (const platform::Disk& d : platform::listDisks()) {
        lstDisks->addTopLevelItem(diskRow(d));
        if (d.device == was) // the same disk stays chosen
            lstDisks->setCurrentItem(lstDisks->topLevelItem(lstDisks->topLevelItemCount() - 1));
    }
    lstDisks->expandAll();
    for (int c = 0; c < Columns - 1; ++c)
        lstDisks->resizeColumnToContents(c);
    chosenChanged();
}

// The disk chosen, when it may be wiped: a partition's row stands for its
// disk; a refused disk is no choice.
QString frmDisk::chosenDevice() const
{
    const QList<QTreeWidgetItem*> chosen = lstDisks->selectedItems();
    if (chosen.isEmpty())
        return {};
    QTreeWidgetItem* disk = chosen.first()->parent() ? chosen.first()->parent() : chosen.first();
    return disk->data(State, Qt::UserRole).toBool() ? disk->data(Device, Qt::UserRole).toString() : QString();
}

void frmDisk::chosenChanged()
{
    cmdWipe->setEnabled(!running_ && !chosenDevice().isEmpty());
}

void frmDisk::cmdWipe_Click()
{
    const QString device = chosenDevice();
    if (device.isEmpty() || running_)
        return;
    engine::DiskWipePlan plan;
    plan.method = *engine::diskMethodNamed(cboMethod->currentData().toString());
    plan.passes = spnPasses->value();
    plan.verify = kVerifyChoices[std::max(0, cboVerify->currentIndex())];
    plan.newFileSystem = cboNewTable->currentData().toString();
    plan.label = txtLabel->text().trimmed().isEmpty() ? QStringLiteral("DATA") : txtLabel->text().trimmed();
    running_ = true;
    stop_ = false;
    setChoicesEnabled(false);
    barProgress->setValue(0);
    lblProgress->clear();
    result_ = engine::wipeDisk(device, plan, prompter_, *this);
    running_ = false;
    setChoicesEnabled(true);
    setStatus(endText());
    if (!result_.declined && result_.refusals.isEmpty())
        prompter_.message(endText());
    cmdRefresh_Click();
    if (closeAfterRun_)
        close();
}

// How the wipe ended, as the status line and the message say it.
QString frmDisk::endText() const
{
    const engine::DiskWipeResult& r = result_;
    QString text = r.declined ? QStringLiteral("Nothing was done.") : r.endLines().join(QStringLiteral("\r\n"));
    if (r.recordId > 0)
        text += QStringLiteral("\r\nWipe record %1 (File > Wipe Records... prints its certificate).").arg(r.recordId);
    return text;
}

// While a wipe runs only Stop answers; after it, everything but Stop (Wipe
// Disk as the chosen disk allows).
void frmDisk::setChoicesEnabled(bool on)
{
    for (QWidget* w : std::initializer_list<QWidget*>{lstDisks, cboMethod, spnPasses, cboVerify, cboNewTable, txtLabel,
                                                      cmdRefresh, cmdWipe, cmdClose})
        w->setEnabled(on);
    cmdStop->setEnabled(!on);
    if (on)
        chosenChanged();
}

void frmDisk::cmdStop_Click()
{
    stop_ = true;
}

void frmDisk::setStatus(const QString& text)
{
    lblStatus->setText(text);
    emit statusChanged(text);
}

void frmDisk::setProgress(int pass, int passes, std::uint64_t done, std::uint64_t total, double bytesPerSecond)
{
    barProgress->setValue(int(1000.0 * double(done) / double(std::max<std::uint64_t>(total, 1))));
    lblProgress->setText(engine::diskProgressText(pass, passes, done, total, bytesPerSecond));
}

// Closing while a wipe runs stops it; the window closes once it has.
void frmDisk::closeEvent(QCloseEvent* event)
{
    if (!running_) {
        event->accept();
        return;
    }
    stop_ = true;
    closeAfterRun_ = true;
    event->ignore();
}

frmDisk* showDiskWindow(platform::Prompter& prompter)
{
    if (!theWindow)
        new frmDisk(prompter);
    controls::bringToFront(theWindow);
    return theWindow;
}

bool diskWipeRunning()
{
    return theWindow && theWindow->running();
}

} // namespace app
