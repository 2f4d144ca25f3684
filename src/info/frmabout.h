#pragma once
// The about window: program name, version, a legal notice and the logo.
// One for the whole program; its texts are fixed, so it has no load work.
#include <QWidget>

class QLabel;
class QPushButton;

namespace info {

class frmAbout : public QWidget {
    Q_OBJECT
public:
    frmAbout();
    ~frmAbout() override;

    void Command1_Click(); // Close

    QLabel* Label1 = nullptr;        // program name
    QLabel* Label2 = nullptr;        // version
    QLabel* Label5 = nullptr;        // legal notice
    QLabel* Picture1 = nullptr;      // logo, left
    QLabel* Picture2 = nullptr;      // logo, right
    QPushButton* Command1 = nullptr; // &Close

protected:
    void closeEvent(QCloseEvent* event) override;
};

// Shows the about window, creating it when it is not open; an open one is
// brought to the front.
frmAbout* showAboutWindow();
// The open about window, or null.
frmAbout* aboutWindow();

} // namespace info
