#include "controls/drivelistbox.h"
#include "platform/environment.h"

namespace controls {

DriveListBox::DriveListBox(platform::DriveServices& drives, QWidget* parent)
    : QComboBox(parent), drives_(drives)
{
    setEditable(false);
    fill();
    const QString current = platform::currentDrive(drives_.table());
    if (!current.isEmpty())
        setDrive(current);
    lastIndex_ = currentIndex();
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index != lastIndex_) {
            lastIndex_ = index;
            emit driveChanged();
        }
    });
}

void DriveListBox::fill()
{
    const QSignalBlocker block(this);
    clear();
    const platform::DriveTable table = drives_.table();
    for (const platform::Drive& d : table.drives())
        addItem(platform::driveEntryText(d));
}

QString DriveListBox::drive() const
{
    return currentText();
}

bool DriveListBox::setDrive(const QString& drivePath)
{
    const auto letter = platform::driveLetterOf(drivePath);
    if (!letter)
        return false;
    for (int i = 0; i < count(); ++i) {
        if (platform::driveLetterOf(itemText(i)) == letter) {
            setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void DriveListBox::refresh()
{
    const auto letter = platform::driveLetterOf(drive());
    fill();
    int index = count() > 0 ? 0 : -1;
    for (int i = 0; letter && i < count(); ++i)
        if (platform::driveLetterOf(itemText(i)) == letter)
            index = i;
    {
        const QSignalBlocker block(this);
        setCurrentIndex(index);
    }
    if (index != lastIndex_ || platform::driveLetterOf(drive()) != letter) {
        lastIndex_ = index;
        emit driveChanged();
    }
}

} // namespace controls
