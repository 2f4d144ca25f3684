#include "filewipe/wipeprocedure.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/overwritefile.h"
#include "platform/prompter.h"
#include "records/recorder.h"

#include <map>
#include <memory>

namespace filewipe {

namespace {

constexpr std::int64_t kShortestPass = 1'000;

// What ends a run early, by error number; any other error gives up the one
// file and the run goes on.
const std::map<int, QString>& stopMessages()
{
    static const std::map<int, QString> messages = {
        {platform::ErrOutOfMemory,
         platform::joinLines({QStringLiteral("The file is too large to delete through the File or Folder Wiper Routine"),
                              QString(),
                              QStringLiteral("Either manually delete the file or perform a Complete Drive Wipe to "
                                             "delete the object")})},
        {platform::ErrFileNotFound, QStringLiteral("To Select a file you must first click on the Root Drive, Folder or "
                                                   "Directory to activate the Path")},
        {platform::ErrInputPastEnd, QStringLiteral("This file may have to be deleted manually.")},
        {platform::ErrPathFileAccess,
         platform::joinLines({QStringLiteral("The Folder/File was not deleted."),
                              QStringLiteral("The item was either locked or was not empty."),
                              QStringLiteral("Please reboot your system, make sure the Path is correct and exists.")}) +
             u' '},
        {platform::ErrPathNotFound, QString()}, // said by the list going back to the drive root
        {platform::ErrObjectNotSet, platform::joinLines({QStringLiteral("The Folder Must be deleted manually"),
                                                         QStringLiteral("It either contains hidden folders or is locked")})},
    };
    return messages;
}

QString withBackslash(const QString& drivePath)
{
    return drivePath.endsWith(u'\\') ? drivePath : drivePath + u'\\';
}

class Run {
public:
    explicit Run(FileWipeContext& ctx) : ctx_(ctx), view_(ctx.view), s_(ctx.settings) {}

    FileWipeResult go();

private:
    QString native(const QString& drivePath) const
    {
        const auto path = ctx_.services.drives->table().toNative(drivePath);
        if (!path)
            throw platform::RunTimeError(platform::ErrPathNotFound, drivePath);
        return *path;
    }
    void wipeEntries();
    void wipeFile(const QString& name);
    void pass(OverwriteState& state, std::int16_t routine);
    void removeFolder();
    void beginRecord();
    void endRecord();
    void verifyLastPass(const OverwriteState& state);
    void done();
    void stop(const platform::RunTimeError& e);
    void statusText(const char* what, const QString& name)
    {
        view_.setStatus(QString::fromLatin1(what) + QStringLiteral("   ") + view_.driveEntry().left(2).toUpper() +
                        QStringLiteral("\\...\\") + name);
    }

    FileWipeContext& ctx_;
    FileWipeView& view_;
    app::ProcessSettings& s_;
    QString TargetFolder;
    std::int32_t FilesLeft = 0;
    FileWipeResult result_;
    std::unique_ptr<records::Recorder> record_;
};

FileWipeResult Run::go()
{
    auto& prompter = *ctx_.services.prompter;
    view_.lockForWipe();
    // Without a folder chosen, a folder wipe would take whatever the list
    // shows (the drive root's files).
    if (ctx_.folderMode && ctx_.TreeFolder.isEmpty()) {
        prompter.message(kNoFolderChosen);
        view_.closingSteps();
        return result_;
    }
    TargetFolder = !ctx_.TreeFolder.isEmpty() ? ctx_.TreeFolder
                                               : withBackslash(view_.listFolder().isEmpty() ? s_.SelectedDrive
                                                                                             : view_.listFolder());
    ctx_.WipeInProgress = 1;
    try {
        if (ctx_.folderMode) {
            for (int i = view_.entryCount() - 1; i >= 0; --i)
                view_.selectEntry(i);
            FilesLeft = view_.entryCount();
            view_.showFilesLeft(FilesLeft);
        }
        for (int i = view_.entryCount() - 1; i >= 0; --i)
            platform::setAttributesNormal(native(TargetFolder + view_.entryName(i)));

        const QString afterRoot = TargetFolder.mid(3);
        if (afterRoot.left(8) == QStringLiteral("Recycled") || afterRoot.left(8) == QStringLiteral("System V")) {
            prompter.message(kEntireDriveOnly);
        } else {
            if (afterRoot.left(4) == QStringLiteral("Temp"))
                prompter.message(platform::joinLines(
                    {QStringLiteral("Some Files and Folders may be Protected System Folders"), QString(),
                     QStringLiteral("If you get a message that the folder is locked or not empty"),
                     QStringLiteral("they may not be wiped without doing a Complete Drive Wipe")}));
            beginRecord();
            wipeEntries();
            if (ctx_.folderMode)
                removeFolder();
            done();
        }
    } catch (const std::bad_alloc&) {
        stop(platform::RunTimeError(platform::ErrOutOfMemory));
    } catch (const platform::RunTimeError& e) {
        stop(e);
    }
    if (!result_.givenUp.isEmpty())
        prompter.message(QStringLiteral("These files were not wiped and are left as they were:\r\n\r\n") +
                         result_.givenUp.join(QStringLiteral("\r\n")));
    if (!result_.unverified.isEmpty())
        prompter.message(QStringLiteral("The last pass over these files did not read back from the drive as it was "
                                        "written:\r\n\r\n%1\r\n\r\nThey were deleted all the same, but the drive "
                                        "may not keep what is written to it: wipe its free space too.")
                             .arg(result_.unverified.join(QStringLiteral("\r\n"))));
    endRecord();
    view_.closingSteps();
    FilesLeft = 0;
    ctx_.WipeInProgress = 0;
    return result_;
}

void Run::wipeEntries()
{
    for (int ListIndex = view_.entryCount() - 1; ListIndex >= 0; --ListIndex) {
        if (view_.entrySelected(ListIndex)) {
            const QString name = view_.entryName(ListIndex);
            try {
                wipeFile(name);
            } catch (const platform::RunTimeError& e) {
                if (stopMessages().count(e.number()))
                    throw;
                // Given up: the run goes on, and the end names it.
                result_.givenUp << name + QStringLiteral(": ") + e.description();
            }
        }
        --FilesLeft;
        if (ctx_.folderMode)
            view_.showFilesLeft(FilesLeft);
    }
}

void Run::wipeFile(const QString& name)
{
    OverwriteState state;
    state.CurrentFile = native(withBackslash(view_.listFolder()) + name);
    state.FileLength = std::max(platform::fileLength(state.CurrentFile), kShortestPass);
    // Its data is also another file, which nobody chose.
    if (const unsigned others = platform::extraLinks(state.CurrentFile); others > 0) {
        result_.givenUp << QStringLiteral("%1: it has %2 other name(s) (hard links), whose data it shares")
                               .arg(name)
                               .arg(others);
        return;
    }
    state.RoutineChoice = Set_Type(name);
    const std::int16_t PassCount = passCountFor(state.FileLength);
    view_.showTimeBox(state.FileLength >= kLargeFile);
    statusText("Preparing to Wipe File", name);
    statusText("Wiping File", name);
    state.QuietProgress = true;
    view_.setProgress(0, PassCount);
    for (std::int16_t PassNumber = 1; PassNumber <= PassCount; ++PassNumber) {
        s_.WipeLevel = PassNumber;
        pass(state, state.RoutineChoice);
        view_.setProgress(PassNumber, PassCount);
    }
    state.QuietProgress = false;
    view_.setProgress(0, PassCount);
    statusText("Finalizing Wipe of File", name);
    pass(state, state.RoutineChoice);
    verifyLastPass(state);
    KillIt(state.CurrentFile, *ctx_.services.clock);
    view_.setProgress(0, PassCount);
    ++result_.filesWiped;
    if (record_) {
        record_->record().passesDone += PassCount + 1;
        record_->record().bytesWritten += state.BytesWritten;
        record_->save();
    }
}

void Run::pass(OverwriteState& state, std::int16_t routine)
{
    if (routine == 1)
        OW_File(state, s_.WipeLevel, view_, *ctx_.services.clock);
    else
        OW_FileB(state, s_.WipeLevel, view_, *ctx_.services.clock);
}

// The record lists what is about to be wiped, with the sizes it has now.
void Run::beginRecord()
{
    QList<records::WipedItem> items;
    int planned = 0;
    std::int64_t total = 0;
    for (int i = view_.entryCount() - 1; i >= 0; --i) {
        if (!view_.entrySelected(i))
            continue;
        const QString path = native(withBackslash(view_.listFolder()) + view_.entryName(i));
        std::int64_t size = 0;
        try {
            size = platform::fileLength(path);
        } catch (const platform::RunTimeError&) {
            size = 0; // said when its wipe fails
        }
        items << records::WipedItem{path, size, false};
        planned += passCountFor(std::max(size, kShortestPass)) + 1;
        total += size;
    }
    if (ctx_.folderMode)
        items.prepend({native(TargetFolder.endsWith(u'\\') ? TargetFolder.chopped(1) : TargetFolder), total, true});
    if (items.isEmpty())
        return; // nothing to write over
    // The drive of the folder being wiped, which the window's drive list
    // may have changed from the main window's choice.
    const QString letter = TargetFolder.left(2);
    records::WipeRecord r = records::newRecord(
        ctx_.folderMode ? records::ProcessKind::Folder : records::ProcessKind::Files,
        QStringLiteral("%1 passes per file under %2 bytes, %3 from there")
            .arg(passCountFor(0) + 1)
            .arg(kLargeFile)
            .arg(passCountFor(kLargeFile) + 1),
        planned, records::driveFacts(letter, ctx_.services.drives->nativePath(letter)));
    r.items = items;
    record_ = std::make_unique<records::Recorder>(std::move(r), *ctx_.services.prompter);
}

void Run::endRecord()
{
    if (!record_)
        return;
    for (const QString& left : std::as_const(result_.givenUp))
        record_->addNote(QStringLiteral("Not wiped: ") + left);
    if (ctx_.folderMode && !result_.folderRemoved)
        record_->addNote(QStringLiteral("The folder was not removed."));
    using records::Outcome;
    record_->complete(result_.errorNumber != 0 ? Outcome::Stopped
                      : !result_.givenUp.isEmpty() || (ctx_.folderMode && !result_.folderRemoved) ? Outcome::Incomplete
                                                                                                  : Outcome::Completed);
}

// Reads the finalizing pass back before the file is emptied: the proof
// that the file's blocks hold the pattern, not its old data.
void Run::verifyLastPass(const OverwriteState& state)
{
    const platform::ReadBack r =
        platform::OverwriteFile::readBack(state.CurrentFile, state.LastBlock, state.LastPassBytes);
    if (r.result == platform::Verification::Failed)
        result_.unverified << r.problem;
    if (record_)
        record_->setVerification(r.result, r.problem);
}

void Run::removeFolder()
{
    if (TargetFolder.endsWith(u'\\'))
        TargetFolder.chop(1);
    const QString folder = native(TargetFolder);
    platform::setAttributesNormal(folder);
    platform::destroyFolder(folder);
    result_.folderRemoved = true;
    TargetFolder.clear();
}

void Run::done()
{
    ctx_.WipeInProgress = 0;
    if (s_.SelectedDrive.endsWith(u':'))
        s_.SelectedDrive += u'\\';
    view_.setStatus(QStringLiteral("DONE"));
    view_.setProgress(0, 0);
    view_.showTimeBox(false);
}

void Run::stop(const platform::RunTimeError& e)
{
    result_.errorNumber = e.number();
    if (record_)
        record_->setError(e.number(), e.description());
    const auto rule = stopMessages().find(e.number());
    if (rule == stopMessages().end()) {
        // Outside the loop nothing can be given up: the run ends, and says why.
        ctx_.services.prompter->message(QStringLiteral("Error %1: %2").arg(e.number()).arg(e.description()));
        return;
    }
    if (e.number() == platform::ErrPathNotFound) {
        view_.driveChange();
        done();
        return;
    }
    QString text = rule->second;
    if (e.number() == platform::ErrPathFileAccess)
        text += TargetFolder;
    ctx_.services.prompter->message(text);
}

} // namespace

std::int16_t passCountFor(std::int64_t fileLength)
{
    return fileLength >= kLargeFile ? 20 : 40;
}

FileWipeResult runFileWipe(FileWipeContext& ctx)
{
    return Run(ctx).go();
}

} // namespace filewipe
