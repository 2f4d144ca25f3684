// The whole-disk wipe window on a real loop device: a refused disk cannot be
// chosen, the chosen one is wiped after its question, progress is shown, and
// Stop ends a pass where it is and says so in the window and the record.
#include "app/frmdisk.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

const QByteArray kMarker = "zqxwindowmarker-";

QTreeWidgetItem* rowWhere(QTreeWidget* list, int column, const std::function<bool(const QString&)>& matches)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (matches(list->topLevelItem(i)->text(column)))
            return list->topLevelItem(i);
    return nullptr;
}

} // namespace

TEST(DiskWindow, WipesTheChosenDiskAndStopsWhenAsked)
{
    testsupport::LoopDisk disk(16);
    if (!disk.ok())
        GTEST_SKIP() << disk.skipReason().toStdString();
    {
        QFile image(disk.image());
        ASSERT_TRUE(image.open(QIODevice::ReadWrite));
        for (int i = 0; i < 16; ++i)
            ASSERT_TRUE(image.seek(qint64(i) << 20) && image.write(kMarker) == kMarker.size());
    }
    testsupport::ScriptedPrompter prompter;
    app::frmDisk* w = app::showDiskWindow(prompter);
    // The disk that holds / is listed with why, and is no choice.
    if (QTreeWidgetItem* system = rowWhere(w->lstDisks, 5, [](const QString& t) { return t.contains("holds /"); })) {
        w->lstDisks->setCurrentItem(system);
        EXPECT_FALSE(w->cmdWipe->isEnabled());
    }
    QTreeWidgetItem* ours = rowWhere(w->lstDisks, 0, [&](const QString& t) { return t == disk.device(); });
    ASSERT_NE(ours, nullptr);
    w->lstDisks->setCurrentItem(ours);
    ASSERT_TRUE(w->cmdWipe->isEnabled());
    w->cboMethod->setCurrentIndex(w->cboMethod->findData("zero"));
    w->cmdWipe->click();
    EXPECT_EQ(testsupport::countInFile(disk.image(), kMarker), 0);
    EXPECT_EQ(prompter.confirmations.size(), 1);
    EXPECT_TRUE(w->lblStatus->text().startsWith("The disk wipe completed: 1 pass(es)")) << w->lblStatus->text().toStdString();
    EXPECT_TRUE(w->lblProgress->text().startsWith("pass 1 of 1: 100.0 %")) << w->lblProgress->text().toStdString();

    // Stop, pressed as the second of three passes begins.
    QObject::connect(w, &app::frmDisk::statusChanged, w, [w](const QString& text) {
        if (text.startsWith("Writing pass 2"))
            w->cmdStop->click();
    });
    w->lstDisks->setCurrentItem(rowWhere(w->lstDisks, 0, [&](const QString& t) { return t == disk.device(); }));
    w->spnPasses->setValue(3);
    w->cmdWipe->click();
    EXPECT_EQ(w->lastResult().passesDone, 1);
    EXPECT_EQ(w->lblStatus->text().section("\r\n", 0, 0), "Stopped at 0.0 % of pass 2.");
    const std::optional<records::WipeRecord> rec = records::Store().find(w->lastResult().recordId);
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->outcome, records::Outcome::Stopped);
    EXPECT_TRUE(rec->notes.contains("Stopped at 0.0 % of pass 2.")) << rec->notes.toStdString();
    EXPECT_TRUE(w->cmdWipe->isEnabled());
    w->close();
}
