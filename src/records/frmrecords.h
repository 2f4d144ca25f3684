#pragma once
// The wipe records window (File > Wipe Records... of the main window): the
// records newest first, and the certificate of the selected one printed on
// the default printer or saved as a PDF file. At most one is open; it holds
// the records file while it is open and lets go of it when it closes.
#include "records/wiperecord.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QSqlQueryModel;
class QTableView;

namespace platform {
class Prompter;
}

namespace records {

class Store;

class frmRecords : public QWidget {
    Q_OBJECT
public:
    explicit frmRecords(platform::Prompter& prompter, const QString& file = {});
    ~frmRecords() override;

    // Reads the records again (a wipe may have added one).
    void reload();
    // The record of the selected row, read whole from the file.
    std::optional<WipeRecord> selectedRecord();

    void cmdPrint_Click();
    void cmdSavePdf_Click();
    // Writes the selected record's certificate to `file`; false after a
    // message.
    bool saveAsPdf(const QString& file);

    QTableView* tblRecords = nullptr; // the records, newest first
    QLabel* lblFile = nullptr;        // where they are kept
    QPushButton* cmdPrint = nullptr;
    QPushButton* cmdSavePdf = nullptr;
    QPushButton* cmdClose = nullptr;
    // Asks where the PDF goes ("" for Cancel): a file dialog unless a test
    // answers.
    std::function<QString(QWidget* parent, const QString& suggested)> choosePdfFile;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    void release();

    platform::Prompter& prompter_;
    QString file_;
    std::unique_ptr<Store> store_;
    QSqlQueryModel* model_ = nullptr;
};

// Shows the window, making it when none is open.
frmRecords* showRecordsWindow(platform::Prompter& prompter);
frmRecords* recordsWindow();

} // namespace records
