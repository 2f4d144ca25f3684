#pragma once
// The record of one running process, as the procedures keep it: stored when
// the process starts writing, saved again as passes end, completed at the
// end. A records file that cannot be used is reported once (per failure, for
// the life of the program) and the wipe goes on without its record: a wipe
// is never refused for want of paperwork.
#include "records/wiperecord.h"

#include <memory>

namespace platform {
class Prompter;
class RunTimeError;
}

namespace records {

class Store;

class Recorder {
public:
    Recorder(WipeRecord record, platform::Prompter& prompter, const QString& file = {});
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // The fields the process fills in as it goes.
    WipeRecord& record() { return r_; }
    // Writes the fields as they are now (passes done, bytes written).
    void save();
    // Ends the record: the time now and how it ended.
    void complete(Outcome outcome);
    // Notes the error that ended the process (kept by complete()).
    void setError(int number, const QString& text);
    // Adds a line to the notes.
    void addNote(const QString& text);
    // The verification of the last pass; a failure stays a failure.
    void setVerification(platform::Verification result, const QString& detail);

    bool kept() const { return bool(store_); }

private:
    void report(const platform::RunTimeError& e);
    WipeRecord r_;
    platform::Prompter& prompter_;
    std::unique_ptr<Store> store_;
};

// Shows a failure of the records file in a message box with what it means
// (`consequence`), once per distinct failure for the life of the program.
void reportOnce(platform::Prompter& prompter, const platform::RunTimeError& error, const QString& consequence);
// Forgets the failures already reported (tests).
void resetRecordReports();

} // namespace records
