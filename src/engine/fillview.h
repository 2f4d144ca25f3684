#pragma once
// What a fill shows and controls in its window. The main window implements
// it; the command-line front end and the tests have their own.
#include "format/formatrunner.h"

#include <QString>
#include <cstdint>

namespace engine {

class FillView : public format::ProcessTimeView {
public:
    virtual void setStatus(const QString& text) = 0;  // status line
    virtual void setDetail(const QString& text) = 0;  // drive line
    virtual void setPercent(const QString& text) = 0; // "37 %"
    virtual void setProgress(std::int64_t value, std::int64_t maximum) = 0;
    // The process controls: Wipe, Cancel, Close, drive list, process list,
    // wipe options.
    virtual void setProcessControlsEnabled(bool enabled) = 0;
    virtual void selectWipeOption(bool complete) = 0;
    // The end of a fill: back on the system drive, "Auto Wipe Free Space"
    // cleared, the process list asking for a type, controls usable again.
    virtual void resetAfterFill() = 0;
    // While a fill runs, the window offers to stop it (its Cancel becomes
    // Stop); the fill asks at every batch whether Stop was pressed.
    virtual void offerStop(bool /*offered*/) {}
    virtual bool stopRequested() const { return false; }
};

} // namespace engine
