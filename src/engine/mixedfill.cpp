#include "engine/mixedfill.h"

#include <cstring>
#include <random>
#include <vector>

namespace engine {

namespace {

std::uint64_t rotl(std::uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

class MixedWriter : public FillWriter {
public:
    explicit MixedWriter(std::unique_ptr<FillWriter> inner) : inner_(std::move(inner)), chunk_(64 * 1024) {}
    void append(const char* data, std::size_t size) override
    {
        while (size > 0) {
            const std::size_t n = std::min(size, chunk_.size());
            std::memcpy(chunk_.data(), data, n);
            mix_.apply(chunk_.data(), n);
            inner_->append(chunk_.data(), n);
            data += n;
            size -= n;
        }
    }
    void commit() override { inner_->commit(); }
    void endDirect() override { inner_->endDirect(); }
    void close() override { inner_->close(); }
    void abandon() override { inner_->abandon(); }
    std::uint64_t written() const override { return inner_->written(); }

private:
    std::unique_ptr<FillWriter> inner_;
    std::vector<char> chunk_;
    KeyedMix mix_;
};

class MixedTarget : public FillTarget {
public:
    explicit MixedTarget(std::unique_ptr<FillTarget> inner) : inner_(std::move(inner)) {}
    std::uint64_t freeBytes() override { return inner_->freeBytes(); }
    std::unique_ptr<FillWriter> create(const QString& drivePath) override
    {
        return std::make_unique<MixedWriter>(inner_->create(drivePath));
    }
    bool exists(const QString& drivePath) override { return inner_->exists(drivePath); }
    void remove(const QString& drivePath) override { inner_->remove(drivePath); }
    platform::FileSystemTraits facts() override { return inner_->facts(); }
    RecordSpace* recordSpace() override { return inner_->recordSpace(); }
    // The mixed bytes are no runs of a repeated unit, which is all a read-back
    // compares with: the last pass on such a drive is not verified (NotRun).

private:
    std::unique_ptr<FillTarget> inner_;
};

} // namespace

KeyedMix::KeyedMix()
{
    std::random_device os;
    for (auto& s : s_)
        s = (std::uint64_t(os()) << 32) | os();
    if ((s_[0] | s_[1] | s_[2] | s_[3]) == 0)
        s_[0] = 1; // the one state the generator cannot leave
}

std::uint64_t KeyedMix::next()
{
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

void KeyedMix::apply(char* data, std::size_t size)
{
    std::size_t i = 0;
    for (; i < size && used_ < 8; ++i, ++used_)
        data[i] = static_cast<char>(data[i] ^ static_cast<char>(word_ >> (8 * used_)));
    for (; i + 8 <= size; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, data + i, 8);
        w ^= next();
        std::memcpy(data + i, &w, 8);
    }
    if (i < size) {
        word_ = next();
        used_ = 0;
        for (; i < size; ++i, ++used_)
            data[i] = static_cast<char>(data[i] ^ static_cast<char>(word_ >> (8 * used_)));
    }
}

std::unique_ptr<FillTarget> incompressible(std::unique_ptr<FillTarget> inner)
{
    return std::make_unique<MixedTarget>(std::move(inner));
}

} // namespace engine
