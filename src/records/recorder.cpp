#include "records/recorder.h"
#include "platform/errors.h"
#include "platform/prompter.h"
#include "records/store.h"

#include <QSet>

namespace records {

namespace {
QSet<QString>& reported()
{
    static QSet<QString> set;
    return set;
}
} // namespace

void resetRecordReports()
{
    reported().clear();
}

Recorder::Recorder(WipeRecord record, platform::Prompter& prompter, const QString& file)
    : r_(std::move(record)), prompter_(prompter)
{
    try {
        store_ = std::make_unique<Store>(file.isEmpty() ? Store::defaultFile() : file);
        r_.id = store_->add(r_);
    } catch (const platform::RunTimeError& e) {
        report(e);
    }
}

Recorder::~Recorder() = default;

void reportOnce(platform::Prompter& prompter, const platform::RunTimeError& error, const QString& consequence)
{
    const QString key = QString::number(error.number()) + u'|' + error.detail();
    if (reported().contains(key))
        return;
    reported().insert(key);
    prompter.message(platform::joinLines(
        {QStringLiteral("The wipe records could not be used:"), QString(), error.description(), QString(), consequence}));
}

void Recorder::report(const platform::RunTimeError& e)
{
    store_.reset();
    reportOnce(prompter_, e, QStringLiteral("The wipe goes on, but it leaves no record for a certificate."));
}

void Recorder::save()
{
    if (!store_)
        return;
    try {
        store_->update(r_);
    } catch (const platform::RunTimeError& e) {
        report(e);
    }
}

void Recorder::setError(int number, const QString& text)
{
    r_.errorNumber = number;
    r_.errorText = text;
}

void Recorder::addNote(const QString& text)
{
    r_.notes = r_.notes.isEmpty() ? text : QStringLiteral("%1\n%2").arg(r_.notes, text);
}

void Recorder::setVerification(platform::Verification result, const QString& detail)
{
    if (r_.verification == platform::Verification::Failed)
        return;
    r_.verification = result;
    r_.verificationDetail = detail;
}

void Recorder::complete(Outcome outcome)
{
    r_.outcome = outcome;
    r_.ended = QDateTime::currentDateTime();
    save();
}

} // namespace records
