#include "support/fillfakes.h"
#include "platform/errors.h"

#include <cmath>

namespace testsupport {

namespace {
class MemoryWriter : public engine::FillWriter {
public:
    MemoryWriter(MemoryVolume& v, QString path) : v_(v), path_(std::move(path)) {}
    void append(const char*, std::size_t size) override
    {
        // Held until commit, as a real writer stages its blocks.
        pending_ += size;
    }
    void commit() override
    {
        const std::uint64_t size = pending_;
        pending_ = 0;
        if (size == 0)
            return;
        if (v_.fileLimit && v_.files[path_] + size > v_.fileLimit) {
            // Written up to the limit, as a real write stops there.
            v_.files[path_] = v_.fileLimit;
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
        v_.open[path_] = false;
        ++v_.syncedCloses;
    }
    void abandon() override
    {
        pending_ = 0;
        v_.open[path_] = false;
    }
    std::uint64_t written() const override { return v_.files.value(path_); }

private:
    MemoryVolume& v_;
    QString path_;
    std::uint64_t pending_ = 0;
};
} // namespace

namespace {
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
    if (target)
        fill.setTargetFactory([target](const QString&) { return borrow(*target); });
    return fill.run(passes);
}

std::uint64_t MemoryVolume::used() const
{
    std::uint64_t u = 0;
    for (auto it = files.begin(); it != files.end(); ++it)
        u += it.value();
    return u;
}

std::uint64_t MemoryVolume::freeBytes()
{
    return capacity - used() + phantomFree;
}

std::unique_ptr<engine::FillWriter> MemoryVolume::create(const QString& drivePath)
{
    if (createError)
        throw platform::RunTimeError(createError, drivePath);
    if (files.contains(drivePath))
        throw platform::RunTimeError(platform::ErrPathFileAccess, drivePath);
    files[drivePath] = 0;
    open[drivePath] = true;
    created << drivePath;
    return std::make_unique<MemoryWriter>(*this, drivePath);
}

void MemoryVolume::remove(const QString& drivePath)
{
    if (!files.contains(drivePath))
        throw platform::RunTimeError(platform::ErrFileNotFound, drivePath);
    files.remove(drivePath);
    removed << drivePath;
}

} // namespace testsupport
