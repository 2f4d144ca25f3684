#include "support/fillfakes.h"
#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <numeric>
#include <utility>

namespace testsupport {

namespace {
class MemoryWriter : public engine::FillWriter {
public:
    MemoryWriter(MemoryVolume& v, QString path) : v_(v), path_(std::move(path)) {}
    // Held until commit, as a real writer stages its blocks.
    void append(const char*, std::size_t size) override { pending_ += size; }
    void commit() override
    {
        const std::uint64_t size = std::exchange(pending_, 0);
        if (size == 0)
            return;
        if (v_.fileLimit && v_.files[path_] + size > v_.fileLimit) {
            v_.files[path_] = v_.fileLimit; // written up to the limit, as a real write stops there
            throw platform::RunTimeError(platform::ErrDiskFull, path_, platform::Limit::FileSize);
        }
        const auto stored = static_cast<std::uint64_t>(std::ceil(static_cast<double>(size) * v_.storedPerByte));
        if (v_.used() + stored > v_.capacity) {
            ++v_.diskFullErrors;
            throw platform::RunTimeError(platform::ErrDiskFull, path_);
        }
        v_.files[path_] += stored;
        v_.commits.push_back(size);
        if (v_.onCommit)
            v_.onCommit();
    }
    void endDirect() override { commit(); }
    void close() override
    {
        commit();
        ++v_.syncedCloses;
    }
    void abandon() override { pending_ = 0; }
    std::uint64_t written() const override { return v_.files.value(path_); }

private:
    MemoryVolume& v_;
    QString path_;
    std::uint64_t pending_ = 0;
};

class Borrowed : public engine::FillTarget {
public:
    explicit Borrowed(engine::FillTarget& t) : t_(t) {}
    std::uint64_t freeBytes() override { return t_.freeBytes(); }
    std::unique_ptr<engine::FillWriter> create(const QString& p) override { return t_.create(p); }
    bool exists(const QString& p) override { return t_.exists(p); }
    void remove(const QString& p) override { t_.remove(p); }

private:
    engine::FillTarget& t_;
};
} // namespace

std::unique_ptr<engine::FillTarget> borrow(engine::FillTarget& target)
{
    return std::make_unique<Borrowed>(target);
}

engine::FillOutcome FillHarness::runFill(int passes, engine::FillTarget* target)
{
    engine::FillProcedure fill({drive, level, freeKB, start, now, errorFlag, patterns, category, known}, view,
                               {&drives, &prompter, &clock});
    fill.setEveryFolder(everyFolder);
    if (target)
        fill.setTargetFactory([target](const QString&) { return borrow(*target); });
    return fill.run(passes);
}

std::uint64_t MemoryVolume::used() const
{
    return std::accumulate(files.begin(), files.end(), std::uint64_t{0});
}

std::unique_ptr<engine::FillWriter> MemoryVolume::create(const QString& drivePath)
{
    if (createError)
        throw platform::RunTimeError(createError, drivePath);
    if (files.contains(drivePath))
        throw platform::RunTimeError(platform::ErrPathFileAccess, drivePath);
    files[drivePath] = 0;
    created << drivePath;
    return std::make_unique<MemoryWriter>(*this, drivePath);
}

void MemoryVolume::remove(const QString& drivePath)
{
    if (!files.remove(drivePath))
        throw platform::RunTimeError(platform::ErrFileNotFound, drivePath);
    removed << drivePath;
}

QStringList fillFilesIn(const QString& folder)
{
    return QDir(folder).entryList({"tmptxt*.txt"}, QDir::Files | QDir::Hidden | QDir::System);
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush();
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).trimmed() : QString();
}

} // namespace testsupport
