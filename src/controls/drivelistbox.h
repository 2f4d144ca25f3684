#pragma once
// The classic drive list: one entry per drive ("d: [/media/me/STICK]"),
// starting on the drive that holds the working directory.
#include "platform/driveservices.h"

#include <QComboBox>

namespace controls {

class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(platform::DriveServices& drives, QWidget* parent = nullptr);

    // The selected entry's text; empty when there is none.
    QString drive() const;
    // Selects the entry whose letter `drivePath` starts with (either case).
    // False when no entry has that letter; the selection then stays.
    bool setDrive(const QString& drivePath);
    // Reads the drive table again, keeping the selected letter if it is
    // still there.
    void refresh();

signals:
    // The selection really changed, by the user or by setDrive.
    void driveChanged();

private:
    void fill();
    platform::DriveServices& drives_;
    int lastIndex_ = -1;
};

} // namespace controls
