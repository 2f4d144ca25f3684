#pragma once
// The whole-disk wipe window (File > Wipe Whole Disk... of the main window):
// the whole disks with their partitions and mounts, those that may not be
// wiped shown with the reason and not to be chosen; the method, passes and
// read-back; then the wipe with its pass, percent, speed and time left, and
// Stop. At most one is open. The questions (each mount to unmount, and the
// one that names the disk) are the procedure's, No by default.
#include "engine/diskwipe.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace platform {
class Prompter;
}

namespace app {

class frmDisk : public QWidget, private engine::DiskWipeView {
    Q_OBJECT
public:
    explicit frmDisk(platform::Prompter& prompter);
    ~frmDisk() override;

    // Lists the disks again.
    void cmdRefresh_Click();
    void cmdWipe_Click();
    void cmdStop_Click();
    bool running() const { return running_; }
    // The last wipe's result (tests, and the status line).
    const engine::DiskWipeResult& lastResult() const { return result_; }

    QTreeWidget* lstDisks = nullptr; // a disk per row, its partitions below it
    QComboBox* cboMethod = nullptr;
    QSpinBox* spnPasses = nullptr;
    QComboBox* cboVerify = nullptr;
    QComboBox* cboNewTable = nullptr; // nothing, or a new GPT with one partition of a file system
    QLineEdit* txtLabel = nullptr;
    QPushButton* cmdRefresh = nullptr;
    QPushButton* cmdWipe = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdClose = nullptr;
    QLabel* lblStatus = nullptr;
    QProgressBar* barProgress = nullptr;
    QLabel* lblProgress = nullptr; // pass, percent, speed, time left

signals:
    void statusChanged(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    void chosenChanged();
    void setChoicesEnabled(bool on);
    QString chosenDevice() const;
    QString endText() const;
    void setStatus(const QString& text) override;
    void setProgress(int pass, int passes, std::uint64_t done, std::uint64_t total, double bytesPerSecond) override;
    bool stopRequested() const override { return stop_; }

    platform::Prompter& prompter_;
    engine::DiskWipeResult result_;
    bool running_ = false;
    bool stop_ = false;
    bool closeAfterRun_ = false;
};

// Opens the window, or brings the open one to the front.
frmDisk* showDiskWindow(platform::Prompter& prompter);
// Whether a disk wipe is running in the window (the main window's close
// asks before it ends one).
bool diskWipeRunning();

} // namespace app
