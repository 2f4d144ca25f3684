#include "platform/shellinfo.h"
#include "platform/errors.h"

#include <QApplication>
#include <QFile>
#include <QFileIconProvider>
#include <QStorageInfo>
#include <QStyle>
#include <QSysInfo>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// An open folder listing that closes itself, so that the probe can stop early
// and a throw cannot leak the descriptor.
class FolderReader {
public:
    explicit FolderReader(const QString& nativeFolder)
    {
        const QByteArray path = QFile::encodeName(nativeFolder);
        fd_ = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            err_ = errno;
            return;
        }
        dir_ = ::fdopendir(fd_);
        if (!dir_) {
            err_ = errno;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FolderReader()
    {
        if (dir_)
            ::closedir(dir_);
    }
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    bool ok() const { return dir_ != nullptr; }
    int error() const { return err_; }

    // The next name that the tree would show, or a null string at the end.
    QString nextSubfolder()
    {
        while (const dirent* e = ::readdir(dir_)) {
            if (e->d_name[0] == '.')
                continue; // the folder itself, its parent and every dot name
            if (!isRealFolder(*e))
                continue;
            const QString name = QFile::decodeName(e->d_name);
            if (name.contains(u'\\'))
                continue; // cannot be written as a drive path
            return name;
        }
        return {};
    }

private:
    bool isRealFolder(const dirent& e) const
    {
        if (e.d_type == DT_DIR)
            return true;
        if (e.d_type != DT_UNKNOWN)
            return false;
        // Some file systems do not fill in the type; ask without following
        // a link.
        struct stat st {};
        return ::fstatat(fd_, e.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }

    int fd_ = -1;
    DIR* dir_ = nullptr;
    int err_ = 0;
};

QString lastName(const QString& nativePath)
{
    QString p = nativePath;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf(u'/');
    return slash < 0 ? p : p.mid(slash + 1);
}

} // namespace

quint32 ShellInfo::attributes(const QString& nativePath) const
{
    struct stat st {};
    if (nativePath.isEmpty() || ::stat(QFile::encodeName(nativePath).constData(), &st) != 0)
        return 0;
    quint32 a = ShellFileSystem;
    if (S_ISDIR(st.st_mode)) {
        a |= ShellFolder;
        if (hasSubfolders(nativePath))
            a |= ShellHasSubfolder;
    }
    return a;
}

QString ShellInfo::displayName(const QString& nativePath, QChar driveLetter) const
{
    if (driveLetter.isNull())
        return lastName(nativePath);
    // The volume's label when it has one; a folder standing in for a drive
    // goes by its own name; the unlabelled root by the machine's name.
    QString name;
    const QStorageInfo storage(nativePath);
    if (storage.isValid() && storage.rootPath() == nativePath)
        name = storage.name();
    if (name.isEmpty())
        name = nativePath == QStringLiteral("/") ? QSysInfo::machineHostName() : lastName(nativePath);
    if (name.isEmpty())
        name = QStringLiteral("Root");
    return QStringLiteral("%1 (%2:)").arg(name, QString(driveLetter.toUpper()));
}

QIcon ShellInfo::icon(const QString& nativePath, bool open, bool driveRoot) const
{
    Q_UNUSED(nativePath); // every folder looks alike in the desktop theme
    // Loaded once: the same icons serve every node, as the shell's shared
    // list does.
    if (folder_.isNull()) {
        const QFileIconProvider provider;
        QStyle* style = QApplication::style();
        folder_ = provider.icon(QAbstractFileIconProvider::Folder);
        if (folder_.isNull())
            folder_ = style->standardIcon(QStyle::SP_DirClosedIcon);
        folderOpen_ = QIcon::fromTheme(QStringLiteral("folder-open"));
        if (folderOpen_.isNull())
            folderOpen_ = style->standardIcon(QStyle::SP_DirOpenIcon);
        drive_ = provider.icon(QAbstractFileIconProvider::Drive);
        if (drive_.isNull())
            drive_ = style->standardIcon(QStyle::SP_DriveHDIcon);
    }
    if (driveRoot)
        return drive_;
    return open ? folderOpen_ : folder_;
}

bool ShellInfo::hasSubfolders(const QString& nativeFolder) const
{
    FolderReader reader(nativeFolder);
    return reader.ok() && !reader.nextSubfolder().isNull();
}

QStringList ShellInfo::listSubfolders(const QString& nativeFolder) const
{
    FolderReader reader(nativeFolder);
    if (!reader.ok())
        throw errorFromErrno(reader.error(), nativeFolder);
    QStringList names;
    for (QString name = reader.nextSubfolder(); !name.isNull(); name = reader.nextSubfolder())
        names.push_back(name);
    return names;
}

ShellInfo& systemShell()
{
    // Never destroyed: its icons must not outlive the application object.
    static ShellInfo* shell = new ShellInfo;
    return *shell;
}

} // namespace platform
