// How a file wipe works, and why.
//
// A file's contents are overwritten where they lie: the file is opened once,
// through the folder opened once, and every pass writes its pattern over
// the whole length and reaches the disk before the next begins (21 passes
// for a large file, 41 for a small one, plus a finalizing pass that is read
// back). Then the file is emptied, renamed to names that say nothing, and
// deleted; a folder wipe removes the folder the same way, after making names
// of its own in it so that it goes with those in its index. Between two
// calls a name can come to name another file, so every step checks that the
// descriptor still is the file the user chose, and a file that cannot be
// reached whole (copy-on-write, shared blocks, attributes a file system may
// move) is named with where its copies stay. Nothing is touched before the
// user agreed to a question that names what goes, and what was not
// destroyed is said before the run says how it ended.
#include "filewipe/wipeprocedure.h"
#include "platform/blocking.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/journalchurn.h"
#include "platform/names.h"
#include "platform/overwritefile.h"
#include "platform/prompter.h"
#include "records/recorder.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace filewipe {

namespace {

constexpr std::int64_t kShortestPass = 1'000;
// Small files are wiped together, pass by pass, with one flush for all of
// them per pass: a 4 KiB file's pass is mostly its flush. A batch holds this
// many files, and this many bytes of a pass, at most.
constexpr std::size_t kBatchFiles = 128;
constexpr std::uint64_t kBatchBytes = 16 << 20;

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
        {platform::ErrUserInterrupt, QStringLiteral("The wipe was stopped.")},
        {platform::ErrFileNotFound, QStringLiteral("To Select a file you must first click on the Root Drive, Folder or "
                                                   "Directory to activate the Path")},
        {platform::ErrInputPastEnd, QStringLiteral("This file may have to be deleted manually.")},
        {platform::ErrPathFileAccess,
         platform::joinLines({QStringLiteral("The Folder/File was not deleted."),
                              QStringLiteral("The item was either locked or was not empty."),
                              QStringLiteral("Please close what uses it, make sure the Path is correct and exists.")}) +
             u' '},
        {platform::ErrPathNotFound, QString()}, // said by the list going back to the drive root
        {platform::ErrObjectNotSet, platform::joinLines({QStringLiteral("The Folder Must be deleted manually"),
                                                         QStringLiteral("It either contains hidden folders or is locked")})},
    };
    return messages;
}

// "41 passes each", or both counts where files on both sides of the large
// file's size are among them.
QString passesEach(int files, int large)
{
    const int few = passCountFor(0) + 1, many = passCountFor(kLargeFile) + 1;
    if (large == 0 || large == files)
        return QStringLiteral("%1 passes each").arg(large == 0 ? few : many);
    return QStringLiteral("%1 passes each (%2 for files of 1 MB or more)").arg(few).arg(many);
}

QString fileCount(int n)
{
    return n == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(n);
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
    struct Chosen {
        QString path;
        std::int64_t size;
    };
    QList<Chosen> chosenFiles() const;
    QList<Chosen> chosen_; // read once: the question and the record name the same files
    bool agreed();
    QString shownFolder() const;
    void prepareChosen();
    // A chosen file open for its wipe, and what its wipe has done so far.
    struct Wiping {
        Wiping(QString n, platform::OverwriteFile f) : name(std::move(n)), file(std::move(f)) {}
        QString name;
        platform::OverwriteFile file;
        OverwriteState state;
        PassWrite pass;               // the pass being written
        std::uint64_t bytesBefore = 0; // written before it
        std::uint64_t needed = 0;     // of the free space, for a pass past its end
        platform::OverwriteReach reach;
        int attributes = 0;
        QStringList attributeProblems;
        bool destroyed = false;
    };
    using Batch = std::vector<std::unique_ptr<Wiping>>;
    void wipeEntries();
    std::unique_ptr<Wiping> openChosen(int index, const QString& name);
    bool fitsBatch(const Batch& batch, const Wiping& file) const;
    void wipeBatch(Batch& batch);
    void pass(Batch& batch, bool finalizing);
    void passTogether(Batch& batch);
    void flush(Batch& batch);
    using Errors = std::vector<std::optional<platform::RunTimeError>>;
    void onWorker(Batch& batch, const std::function<void(Wiping&)>& step);
    void dropFailed(Batch& batch, const Errors& errors);
    void finish(Wiping& file);
    void eachFile(Batch& batch, const std::function<void(Wiping&)>& step);
    void giveUp(const Wiping& file, const platform::RunTimeError& e);
    void countDown();
    void leave(const QString& name, const QString& why, int passesDone = 0, int passesPlanned = 0);
    void stopIfAsked() const
    {
        if (view_.stopRequested())
            throw platform::RunTimeError(platform::ErrUserInterrupt);
    }
    void removeFolder();
    QList<int> chosenNameLengths() const;
    void overwriteJournal();
    void beginRecord();
    void endRecord();
    void verifyLastPass(const OverwriteState& state);
    void done();
    void stop(const platform::RunTimeError& e);
    void report();
    void statusText(const char* what, const QString& name)
    {
        view_.setStatus(QString::fromLatin1(what) + QStringLiteral("   ") + view_.driveEntry().left(2).toUpper() +
                        QStringLiteral("\\...\\") + platform::readableName(name));
    }
    bool chosen(int index) const { return view_.entrySelected(index) && ids_[std::size_t(index)].known(); }

    FileWipeContext& ctx_;
    FileWipeView& view_;
    session::ProcessSettings& s_;
    QString TargetFolder;
    std::int32_t FilesLeft = 0;
    FileWipeResult result_;
    std::unique_ptr<records::Recorder> record_;
    // The list's folder, opened once: every file is reached through it.
    std::optional<platform::WipeFolder> folder_;
    // Each chosen entry's file as it was when made ready; unknown for an
    // entry that is not chosen or was refused.
    std::vector<platform::FileId> ids_;
    bool reachedDone_ = false;
    QString folderShown_; // the folder wiped, as the end names it
    int attributesWiped_ = 0; // their old values may sit in ext4's journal
    int largeWiped_ = 0;      // wiped files of the large file's size, with fewer passes
    int readBack_ = 0;        // wiped files whose finalizing pass read back as written
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
    result_.freeSpaceFollows = ctx_.freeSpaceFollows;
    try {
        if (ctx_.folderMode) {
            for (int i = view_.entryCount() - 1; i >= 0; --i)
                view_.selectEntry(i);
            FilesLeft = view_.entryCount();
            view_.showFilesLeft(FilesLeft);
        }
        for (int i = 0; i < view_.entryCount(); ++i)
            result_.filesChosen += view_.entrySelected(i) ? 1 : 0;
        folder_.emplace(native(withBackslash(view_.listFolder().isEmpty() ? TargetFolder : view_.listFolder())));
        chosen_ = chosenFiles();
        if (!agreed()) {
            result_.declined = true;
            view_.setStatus(QStringLiteral("Nothing was wiped"));
            view_.closingSteps();
            ctx_.WipeInProgress = 0;
            return result_;
        }
        prepareChosen();

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
            else if (result_.filesWiped > 0)
                folder_->coverNames(chosenNameLengths());
            overwriteJournal();
            done();
        }
    } catch (const std::bad_alloc&) {
        stop(platform::RunTimeError(platform::ErrOutOfMemory));
    } catch (const platform::RunTimeError& e) {
        stop(e);
    }
    report();
    endRecord();
    view_.closingSteps();
    FilesLeft = 0;
    ctx_.WipeInProgress = 0;
    return result_;
}

// The chosen entries as they are now, with the sizes of those that are files.
QList<Run::Chosen> Run::chosenFiles() const
{
    QList<Chosen> chosen;
    for (int i = view_.entryCount() - 1; i >= 0; --i) {
        if (!view_.entrySelected(i))
            continue;
        const QString path = folder_->pathOf(view_.entryName(i));
        const auto facts = platform::examinePath(path);
        chosen << Chosen{path, facts && facts->regularFile ? platform::fileLength(path) : 0};
    }
    return chosen;
}

// Nothing is touched before the user has seen what goes: how many files,
// from which folder (by letter and by mount point), how large, how many
// passes.
bool Run::agreed()
{
    const QList<Chosen>& chosen = chosen_;
    if (chosen.isEmpty() && !ctx_.folderMode)
        return true; // nothing to destroy
    std::int64_t bytes = 0;
    int large = 0;
    for (const Chosen& c : chosen) {
        bytes += c.size;
        large += c.size >= kLargeFile ? 1 : 0;
    }
    const QString passes = passesEach(int(chosen.size()), large);
    const QString where = shownFolder();
    const QString files = fileCount(int(chosen.size()));
    const QString size = QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
    const QString question = ctx_.folderMode
                                 ? QStringLiteral("Wipe the folder %1 and its %2 (%3), %4?").arg(where, files, size, passes)
                                 : QStringLiteral("Wipe the %1 of %2 (%3), %4?").arg(files, where, size, passes);
    return ctx_.services.prompter->confirm(question);
}

// The folder as the user knows it: by letter, and where it is mounted.
QString Run::shownFolder() const
{
    QString folder = TargetFolder;
    if (folder.size() > 3 && folder.endsWith(u'\\'))
        folder.chop(1);
    return QStringLiteral("%1 [%2]").arg(folder.left(1).toUpper() + folder.mid(1),
                                         platform::readableName(folder_->path()));
}

// The attributes of the files that will be wiped, and of no other, become
// "normal". A chosen file that is not what was listed, or that may not be
// written, is named and left; the others go on.
void Run::prepareChosen()
{
    ids_.assign(std::size_t(view_.entryCount()), {});
    for (int i = view_.entryCount() - 1; i >= 0; --i) {
        if (!view_.entrySelected(i))
            continue;
        const QString name = view_.entryName(i);
        try {
            ids_[std::size_t(i)] = folder_->prepare(name, view_.entryId(i));
        } catch (const platform::RunTimeError& e) {
            if (e.number() != platform::ErrRefused)
                throw;
            leave(name, e.detail());
        }
    }
}

// The chosen files, in the list's order from its end. Small files are wiped
// in batches; a large file alone.
void Run::wipeEntries()
{
    Batch batch;
    try {
        for (int ListIndex = view_.entryCount() - 1; ListIndex >= 0; --ListIndex) {
            if (!chosen(ListIndex)) {
                countDown();
                continue;
            }
            std::unique_ptr<Wiping> file = openChosen(ListIndex, view_.entryName(ListIndex));
            if (!file)
                continue;
            const bool large = file->state.FileLength >= kLargeFile;
            if (large || !fitsBatch(batch, *file))
                wipeBatch(batch);
            batch.push_back(std::move(file));
            if (large)
                wipeBatch(batch);
        }
        wipeBatch(batch);
    } catch (const platform::RunTimeError& e) {
        // What ends the run leaves every file of the batch where it is.
        for (const auto& file : batch)
            if (!file->destroyed)
                leave(file->name, e.description(), file->state.PassesDone, file->state.PassesPlanned);
        throw;
    }
}

bool Run::fitsBatch(const Batch& batch, const Wiping& file) const
{
    std::uint64_t bytes = 0, needed = 0;
    for (const auto& member : batch) {
        bytes += passLength(member->state.FileLength);
        needed += member->needed;
    }
    return batch.size() < kBatchFiles && bytes + passLength(file.state.FileLength) <= kBatchBytes &&
           (file.needed == 0 || needed + file.needed <= file.file.freeSpace());
}

void Run::countDown()
{
    --FilesLeft;
    if (ctx_.folderMode)
        view_.showFilesLeft(FilesLeft);
}

// Names a chosen file that was not destroyed, with what was done to it.
void Run::leave(const QString& name, const QString& why, int passesDone, int passesPlanned)
{
    const QString shown = platform::readableName(name);
    if (passesDone == 0)
        result_.givenUp << QStringLiteral("%1: left as it was: %2").arg(shown, why);
    else if (passesDone < passesPlanned)
        result_.givenUp << QStringLiteral("%1: overwritten %2 of %3 passes, not deleted: %4")
                               .arg(shown)
                               .arg(passesDone)
                               .arg(passesPlanned)
                               .arg(why);
    else
        result_.givenUp << QStringLiteral("%1: overwritten (all %2 passes) but not deleted: %3")
                               .arg(shown)
                               .arg(passesDone)
                               .arg(why);
}

// Runs `step` on every file of the batch; a file whose step fails is given
// up, and the others go on. An error that ends the run ends it.
void Run::eachFile(Batch& batch, const std::function<void(Wiping&)>& step)
{
    for (auto it = batch.begin(); it != batch.end();) {
        try {
            step(**it);
            ++it;
        } catch (const platform::RunTimeError& e) {
            if (stopMessages().count(e.number()))
                throw;
            giveUp(**it, e);
            it = batch.erase(it);
        }
    }
}

void Run::giveUp(const Wiping& file, const platform::RunTimeError& e)
{
    leave(file.name, e.number() == platform::ErrRefused ? e.detail() : e.description(), file.state.PassesDone,
          file.state.PassesPlanned);
    countDown();
}

// Opens a chosen file for its wipe and wipes its attributes; nothing (the
// file named as not wiped) when it cannot be.
std::unique_ptr<Run::Wiping> Run::openChosen(int index, const QString& name)
{
    try {
        stopIfAsked();
        auto file = std::make_unique<Wiping>(name, folder_->open(name, ids_[std::size_t(index)]));
        OverwriteState& state = file->state;
        state.CurrentFile = file->file.path();
        state.File = &file->file;
        state.FileLength = std::max(static_cast<std::int64_t>(file->file.size()), kShortestPass);
        // A sparse file (or a full drive) would have a pass fill the drive
        // part of the way through: that is known before anything is written.
        file->needed = file->file.unallocatedUpTo(passLength(state.FileLength));
        if (file->needed > 0 && file->needed > file->file.freeSpace())
            throw platform::RunTimeError(platform::ErrRefused,
                                         QStringLiteral("a pass needs %1 bytes more of the drive than it has free (a "
                                                        "sparse file, or a full drive)")
                                             .arg(file->needed));
        // What an overwrite in place reaches of this file; its attributes
        // (and NTFS's named streams) go first, each overwritten and removed.
        file->reach = file->file.reach(folder_->compressing());
        state.Mixed = file->reach.compressed;
        file->attributes = file->file.wipeAttributes(passPattern(4, true).repeated(50), file->attributeProblems);
        attributesWiped_ += file->attributes;
        state.RoutineChoice = Set_Type(name);
        state.Started = ctx_.services.clock->now();
        state.PassesPlanned = passCountFor(state.FileLength) + 1;
        statusText("Preparing to Wipe File", name);
        statusText("Wiping File", name);
        return file;
    } catch (const platform::RunTimeError& e) {
        leave(name, e.number() == platform::ErrRefused ? e.detail() : e.description());
        countDown();
        if (stopMessages().count(e.number()))
            throw;
        return nullptr;
    }
}

// Every pass over every file of the batch, each pass flushed for all of
// them before the next begins; then each file is read back and destroyed.
void Run::wipeBatch(Batch& batch)
{
    if (batch.empty())
        return;
    const std::int16_t PassCount = passCountFor(batch.front()->state.FileLength);
    view_.showTimeBox(batch.front()->state.FileLength >= kLargeFile);
    view_.setProgress(0, PassCount);
    // A batch whose files were all given up ends at once.
    for (std::int16_t PassNumber = 1; PassNumber <= PassCount && !batch.empty(); ++PassNumber) {
        stopIfAsked();
        s_.WipeLevel = PassNumber;
        pass(batch, false);
        view_.setProgress(PassNumber, PassCount);
    }
    view_.setProgress(0, PassCount);
    stopIfAsked();
    for (const auto& file : batch)
        statusText("Finalizing Wipe of File", file->name);
    pass(batch, true);
    eachFile(batch, [&](Wiping& file) { finish(file); });
    view_.setProgress(0, PassCount);
    batch.clear();
    if (record_)
        record_->save();
}

// One pass over the batch: a file alone takes its routine's pass; several
// take its steps together, a file shorter than the pass overwritten at its
// own length first and flushed before any file grows.
void Run::pass(Batch& batch, bool finalizing)
{
    if (batch.empty())
        return;
    platform::Clock& clock = *ctx_.services.clock;
    for (const auto& file : batch)
        file->bytesBefore = file->state.BytesWritten;
    if (batch.size() == 1)
        eachFile(batch, [&](Wiping& file) {
            file.state.QuietProgress = !finalizing;
            (file.state.RoutineChoice == 1 ? OW_File : OW_FileB)(file.state, s_.WipeLevel, view_, clock);
        });
    else
        passTogether(batch);
    // Counted as each pass ends, so that a run stopped part-way records
    // what it did.
    if (record_)
        for (const auto& file : batch) {
            ++record_->record().passesDone;
            record_->record().bytesWritten += file->state.BytesWritten - file->bytesBefore;
        }
}

void Run::passTogether(Batch& batch)
{
    platform::Clock& clock = *ctx_.services.clock;
    for (const auto& file : batch)
        file->pass = beginPass(file->state, s_.WipeLevel);
    // The time goes on while a flush takes seconds (for the batch's first
    // file: all of them started together).
    const auto showTime = [&] {
        if (!batch.empty())
            view_.setTime(wipeTimeText(batch.front()->state, clock.now()));
    };
    const platform::WhileBlocked ticking(showTime);
    bool grew = false;
    onWorker(batch, [&](Wiping& file) { grew = writeOwnLength(file.state, file.pass) || grew; });
    if (grew)
        flush(batch);
    onWorker(batch, [&](Wiping& file) { writeQuietly(file.state, file.pass); });
    flush(batch);
    for (const auto& file : batch)
        endPass(file->state, clock);
    showTime();
}

// The batch's writes to the disk: one file's own flush, or one for all.
void Run::flush(Batch& batch)
{
    std::vector<platform::OverwriteFile*> files;
    for (const auto& file : batch)
        files.push_back(&file->file);
    dropFailed(batch, platform::OverwriteFile::syncTogether(files));
}

// Runs `step` for every file of the batch in one call off the UI thread
// (one hand-over per pass, not one per file), keeping each file's error.
void Run::onWorker(Batch& batch, const std::function<void(Wiping&)>& step)
{
    Errors errors(batch.size());
    platform::runBlocking([&] {
        for (std::size_t i = 0; i < batch.size(); ++i) {
            try {
                step(*batch[i]);
            } catch (const platform::RunTimeError& e) {
                errors[i] = e;
            }
        }
    });
    dropFailed(batch, errors);
}

// Gives up each file of the batch whose step failed (`errors` by position).
void Run::dropFailed(Batch& batch, const Errors& errors)
{
    std::size_t at = 0;
    eachFile(batch, [&](Wiping&) {
        if (const auto& error = errors[at++])
            throw *error;
    });
}

// The file's last pass read back, the file destroyed, and what overwriting
// it in place did not reach named.
void Run::finish(Wiping& file)
{
    verifyLastPass(file.state);
    KillIt(file.state.CurrentFile, file.file, *ctx_.services.clock);
    file.destroyed = true;
    ++result_.filesWiped;
    largeWiped_ += file.state.FileLength >= kLargeFile ? 1 : 0;
    countDown();
    const QString shown = platform::readableName(file.name);
    if (file.reach.copyOnWrite)
        result_.copiesInFreeSpace << QStringLiteral("%1: the file system writes every change to new blocks "
                                                    "(copy-on-write): its earlier copies stay in the drive's free "
                                                    "space until that is wiped")
                                         .arg(shown);
    if (file.attributes > 0 && file.reach.attributesMove && !file.reach.copyOnWrite)
        result_.copiesInFreeSpace << QStringLiteral("%1: its extended attributes were overwritten, but the file "
                                                    "system may have put the new values in a new block: the old "
                                                    "ones stay in the drive's free space until that is wiped")
                                         .arg(shown);
    if (file.reach.shared)
        result_.copiesElsewhere << QStringLiteral("%1: part of its data is shared with another file (a reflinked "
                                                  "copy or a snapshot) and stays there")
                                       .arg(shown);
    if (!file.attributeProblems.isEmpty())
        result_.copiesElsewhere << QStringLiteral("%1: these extended attributes could not be overwritten: %2")
                                       .arg(shown, file.attributeProblems.join(QStringLiteral(", ")));
}

// The record lists what is about to be wiped, with the sizes it has now.
void Run::beginRecord()
{
    QList<records::WipedItem> items;
    int planned = 0;
    std::int64_t total = 0;
    for (const Chosen& c : chosen_) {
        items << records::WipedItem{platform::readableName(c.path), c.size, false};
        planned += passCountFor(std::max(c.size, kShortestPass)) + 1;
        total += c.size;
    }
    if (ctx_.folderMode)
        items.prepend({platform::readableName(native(TargetFolder.endsWith(u'\\') ? TargetFolder.chopped(1)
                                                                                   : TargetFolder)),
                       total, true});
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
    for (const QString& copy : result_.copiesInFreeSpace + result_.copiesElsewhere)
        record_->addNote(QStringLiteral("Old copies left: ") + copy);
    if (!result_.copiesInFreeSpace.isEmpty())
        record_->addNote(ctx_.freeSpaceFollows ? QStringLiteral("A free-space wipe of the drive follows.")
                                               : QStringLiteral("Old copies left in free space."));
    if (ctx_.folderMode && !result_.folderRemoved)
        record_->addNote(QStringLiteral("The folder was not removed."));
    using records::Outcome;
    const bool incomplete = !result_.completed() || (ctx_.folderMode && !result_.folderRemoved);
    record_->complete(result_.errorNumber != 0 ? Outcome::Stopped
                      : incomplete             ? Outcome::Incomplete
                                               : Outcome::Completed);
}

// Reads the finalizing pass back before the file is emptied: the proof
// that the file's blocks hold the pattern, not its old data.
void Run::verifyLastPass(const OverwriteState& state)
{
    const platform::ReadBack r = state.File->readBack(state.LastBlock, state.LastPassBytes, streamFrom(state.LastMix));
    if (r.result == platform::Verification::Failed)
        result_.unverified << r.problem;
    readBack_ += r.result == platform::Verification::Passed ? 1 : 0;
    if (record_)
        record_->setVerification(r.result, r.problem);
}

// The lengths of the chosen files' names: the folder's index and record
// take names of the wipe's own as long before they are left.
QList<int> Run::chosenNameLengths() const
{
    QList<int> lengths;
    for (const Chosen& file : chosen_)
        lengths << int(QFile::encodeName(file.path.section(u'/', -1)).size());
    return lengths;
}

void Run::removeFolder()
{
    if (TargetFolder.endsWith(u'\\'))
        TargetFolder.chop(1);
    const QString folder = native(TargetFolder);
    folderShown_ = shownFolder();
    if (folder == folder_->path()) {
        folder_->destroy(chosenNameLengths());
    } else {
        platform::WipeFolder(folder).destroy(chosenNameLengths());
    }
    result_.folderRemoved = true;
    TargetFolder.clear();
}

// ext4's journal keeps copies of the blocks the wipe changed (attribute
// blocks with their old values, folder blocks with the old names): once a
// file has been wiped, it is written over.
void Run::overwriteJournal()
{
    // A removed folder's parent is on its volume.
    const QString where = result_.folderRemoved ? QFileInfo(folder_->path()).path() : folder_->path();
    if (result_.filesWiped == 0 || !platform::onExt4(where))
        return;
    view_.setStatus(QStringLiteral("Overwriting the journal of drive %1").arg(view_.driveEntry().left(2).toUpper()));
    const platform::JournalChurn churn = platform::churnJournal(where, platform::kJournalChurnMs);
    if (!churn.ran || churn.complete)
        return;
    const QString left = QStringLiteral("the drive's journal (ext4) could not be written over in %1 s: it may still "
                                        "hold old copies of the wiped files' names%2")
                             .arg(platform::kJournalChurnMs / 1000)
                             .arg(attributesWiped_ > 0 ? QStringLiteral(" and extended attributes") : QString());
    // Attribute values are data: a copy of them left is an unreached copy.
    // Names alone are said in the record.
    if (attributesWiped_ > 0)
        result_.copiesElsewhere << left;
    else if (record_)
        record_->addNote(left);
}

void Run::done()
{
    ctx_.WipeInProgress = 0;
    reachedDone_ = true;
    if (s_.SelectedDrive.endsWith(u':'))
        s_.SelectedDrive += u'\\';
    view_.setProgress(0, 0);
    view_.showTimeBox(false);
}

// What was not destroyed is said before the run says how it ended; the end
// says what was done ("9 files wiped, 41 passes each, read back") only when
// every chosen file is gone.
void Run::report()
{
    auto& prompter = *ctx_.services.prompter;
    if (!result_.givenUp.isEmpty())
        prompter.message(kNotWipedHeading + QStringLiteral("\r\n\r\n") + result_.givenUp.join(QStringLiteral("\r\n")));
    const QStringList copies = result_.copiesInFreeSpace + result_.copiesElsewhere;
    if (!copies.isEmpty())
        prompter.message(QStringLiteral("These files were wiped, but copies of their data stay where overwriting a "
                                        "file does not reach:\r\n\r\n%1%2")
                             .arg(copies.join(QStringLiteral("\r\n")),
                                  result_.copiesInFreeSpace.isEmpty() ? QString()
                                  : ctx_.freeSpaceFollows
                                      ? QStringLiteral("\r\n\r\nThe free-space wipe that follows reaches the copies "
                                                       "in the free space.")
                                      : QStringLiteral("\r\n\r\nWipe the drive's free space to reach the copies in "
                                                       "it (tick Auto Wipe Free Space, or give --free-space on the "
                                                       "command line).")));
    if (!result_.unverified.isEmpty())
        prompter.message(QStringLiteral("The last pass over these files did not read back from the drive as it was "
                                        "written:\r\n\r\n%1\r\n\r\nThey were deleted all the same, but the drive "
                                        "may not keep what is written to it: wipe its free space too.")
                             .arg(result_.unverified.join(QStringLiteral("\r\n"))));
    if (!reachedDone_)
        return;
    if (result_.completed())
        view_.setStatus(QStringLiteral("%1%2 wiped, %3%4")
                            .arg(ctx_.folderMode ? QStringLiteral("Folder %1 removed: ").arg(folderShown_) : QString(),
                                 fileCount(result_.filesWiped), passesEach(result_.filesWiped, largeWiped_),
                                 readBack_ == result_.filesWiped && readBack_ > 0 ? QStringLiteral(", read back")
                                                                                  : QString()));
    else if (result_.filesWiped == result_.filesChosen && result_.givenUp.isEmpty())
        view_.setStatus(QStringLiteral("%1 files wiped; old copies of some are left (see above)").arg(result_.filesWiped));
    else
        view_.setStatus(QStringLiteral("%1 of %2 chosen files wiped").arg(result_.filesWiped).arg(result_.filesChosen));
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
    if (e.number() == platform::ErrUserInterrupt)
        view_.setStatus(QStringLiteral("Stopped: %1 of %2 chosen files wiped").arg(result_.filesWiped).arg(result_.filesChosen));
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
