#pragma once
// A C argument vector that owns its strings, for posix_spawn.
#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <vector>

namespace platform {

class ArgVector {
public:
    explicit ArgVector(const QStringList& args)
    {
        for (const QString& a : args)
            storage_.push_back(QFile::encodeName(a));
        for (QByteArray& b : storage_)
            pointers_.push_back(b.data());
        pointers_.push_back(nullptr);
    }
    char* const* data() { return pointers_.data(); }
    const char* program() const { return pointers_.front(); }

private:
    std::vector<QByteArray> storage_;
    std::vector<char*> pointers_;
};

} // namespace platform
