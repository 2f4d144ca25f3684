#pragma once
// The information viewer: one help text of the info database with its
// heading and window title, and a Print button. One viewer for the whole
// program; it reads the topic key `InfoTopic` once, when it loads.
#include "infodb/recordset.h"

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace platform {
class Prompter;
}

namespace info {

struct InfoTopicRow {
    QString key;     // what the menu entries store in InfoTopic
    QString heading; // Label1, printed in capitals
    QString title;   // window title
    QString column;  // column of "MiscInfo"
};

// The topic table in the order keys are compared.
const QList<InfoTopicRow>& infoTopics();
// First row whose key equals `key` exactly (case counts); null for none.
const InfoTopicRow* findInfoTopic(const QString& key);

class frmInfo : public QWidget {
    Q_OBJECT
public:
    explicit frmInfo(platform::Prompter& prompter);
    ~frmInfo() override;

    void form_load();
    void Command1_Click(); // Close Window
    void Command2_Click(); // Print

    // True while the window holds its connection or recordset.
    bool holdsDatabase() const { return db_.isOpen() || MiscInfo_.isOpen(); }

    QLabel* Label1 = nullptr;         // heading
    QPlainTextEdit* Text1 = nullptr;  // the topic's text
    QPushButton* Command2 = nullptr;  // &Print
    QPushButton* Command1 = nullptr;  // &Close Window
    QLabel* Picture1 = nullptr;       // logo, left
    QLabel* Picture2 = nullptr;       // logo, right

protected:
    // Closing by the title bar does what the close button does, so that a
    // later topic never finds a stale viewer.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    QString topicText(const QString& column) const;
    void releaseDatabase();

    platform::Prompter& prompter_;
    infodb::Connection db_;
    infodb::Recordset MiscInfo_;
};

// Opens the viewer on `InfoTopic`: loads it when it is not open, otherwise
// only brings it to the front (it keeps its topic).
frmInfo* showInfoWindow(platform::Prompter& prompter);
// The open viewer, or null.
frmInfo* infoWindow();

} // namespace info
