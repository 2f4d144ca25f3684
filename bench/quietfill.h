#pragma once
// What a benchmarked fill runs with: a window nobody looks at, and message
// boxes that keep their texts for the report and answer No.
#include "engine/fillview.h"
#include "platform/prompter.h"

#include <QStringList>

namespace bench {

class QuietView : public engine::FillView {
public:
    void setStatus(const QString&) override {}
    void setDetail(const QString&) override {}
    void setPercent(const QString&) override {}
    void setProcessTime(const QString&) override {}
    void setProgress(std::int64_t, std::int64_t) override {}
    void setProcessControlsEnabled(bool) override {}
    void selectWipeOption(bool) override {}
    void resetAfterFill() override {}
};

class SilentPrompter : public platform::Prompter {
public:
    void message(const QString& text) override { messages << text; }
    bool askYesNo(const QString& text) override
    {
        messages << text;
        return false;
    }
    // The question before the wipe: the bench was started to wipe.
    bool confirm(const QString& text) override
    {
        messages << text;
        return true;
    }
    QStringList messages;
};

} // namespace bench
