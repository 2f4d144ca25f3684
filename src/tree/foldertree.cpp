#include "tree/foldertree.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace tree {

namespace {

// The hourglass while a folder is read, back to normal however it ends.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

bool isDriveRoot(const QString& path)
{
    return path.size() <= 3 && platform::driveLetterOf(path).has_value();
}

QPixmap withShareEmblem(QPixmap base)
{
    const QIcon emblem = QIcon::fromTheme(QStringLiteral("emblem-shared"));
    if (emblem.isNull() || base.isNull())
        return base;
    QPainter p(&base);
    const QSize s = base.deviceIndependentSize().toSize() / 2;
    p.drawPixmap(QPoint(0, s.height()), emblem.pixmap(s));
    return base;
}

// Shown order of siblings: by displayed text without regard to case, as the
// shell sorts, with case deciding only between otherwise equal names.
bool displaysBefore(const QTreeWidgetItem* a, const QTreeWidgetItem* b)
{
    const QString ta = a->text(0);
    const QString tb = b->text(0);
    const int c = QString::compare(ta, tb, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : ta < tb;
}

void sortChildren(QTreeWidgetItem* node)
{
    QList<QTreeWidgetItem*> children = node->takeChildren();
    std::stable_sort(children.begin(), children.end(), displaysBefore);
    node->addChildren(children);
}

} // namespace

QIcon ImageList::nodeIcon(const QIcon& closed, const QIcon& open, bool shared) const
{
    const QString key = QString::number(closed.cacheKey()) + u'/' + QString::number(open.cacheKey()) +
                        (shared ? QStringLiteral("/s") : QString());
    if (const auto it = cache_.constFind(key); it != cache_.constEnd())
        return *it;
    QPixmap normal = closed.pixmap(size_);
    QPixmap selected = open.pixmap(size_);
    if (shared) {
        normal = withShareEmblem(normal);
        selected = withShareEmblem(selected);
    }
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(selected, QIcon::Selected);
    cache_.insert(key, icon);
    return icon;
}

const ImageList* GetSystemImageList(int flags)
{
    // Shared by every tree for the life of the program and never destroyed,
    // so its images cannot outlive the application object.
    static const ImageList* small = new ImageList(QSize(16, 16));
    static const ImageList* large = new ImageList(QSize(32, 32));
    return (flags & ShellSmallIcon) ? small : large;
}

QEvent::Type SetImageListEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type TreeNotifyEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

FolderTree::FolderTree(QWidget* parent, platform::DriveServices* drives, platform::ShellInfo* shell)
    : QTreeWidget(parent),
      drives_(drives ? drives : &platform::systemDrives()),
      shell_(shell ? shell : &platform::systemShell())
{
    setHeaderHidden(true);
    setColumnCount(1);
    setSortingEnabled(false); // children are sorted once per load instead
    refreshTable();
    // The view marks the node open and then tells of it; children added now
    // are laid out before anything is painted.
    connect(this, &QTreeWidget::itemExpanded, this, &FolderTree::announceExpanding);
}

void FolderTree::refreshTable()
{
    table_ = drives_->table();
}

bool FolderTree::event(QEvent* e)
{
    if (e->type() == SetImageListEvent::eventType()) {
        auto* ev = static_cast<SetImageListEvent*>(e);
        imageList_ = ev->list;
        setIconSize(imageList_ ? imageList_->iconSize() : QSize());
        ev->replied = true;
        return true;
    }
    return QTreeWidget::event(e);
}

void FolderTree::announceExpanding(QTreeWidgetItem* item)
{
    TreeNotifyEvent notice(TreeNotifyEvent::ItemExpanding, this, item);
    QCoreApplication::sendEvent(window(), &notice);
}

bool SetTreeImageList(FolderTree* tree, const ImageList* list)
{
    SetImageListEvent ev(list);
    QCoreApplication::sendEvent(tree, &ev);
    return ev.replied;
}

QTreeWidgetItem* LoadDriveTree(FolderTree* tree, const QString& rootPath)
{
    ClearTree(tree);
    tree->refreshTable();
    QTreeWidgetItem* root = AddFolderNode(tree, nullptr, rootPath);
    if (!root)
        return nullptr;
    // The window's hook answers the expansion notice with the first level.
    root->setExpanded(true);
    tree->setCurrentItem(root);
    return root;
}

void ClearTree(FolderTree* tree)
{
    if (tree->topLevelItemCount() == 0)
        return;
    QTreeWidgetItem* root = tree->topLevelItem(0);
    root->setExpanded(false);
    delete root;
}

QTreeWidgetItem* AddFolderNode(FolderTree* tree, QTreeWidgetItem* parent, const QString& path)
{
    const auto native = tree->table().toNative(path);
    const quint32 attrs = native ? tree->shell().attributes(*native) : 0;
    if (attrs == 0)
        return nullptr;

    const bool root = isDriveRoot(path);
    const QChar letter = root ? *platform::driveLetterOf(path) : QChar();
    auto* item = new QTreeWidgetItem;
    item->setData(0, TagRole, path);
    item->setText(0, tree->shell().displayName(*native, letter).left(MaxDisplayName));
    // Only the shell's answer decides the expand button until the children
    // are read.
    item->setChildIndicatorPolicy((attrs & platform::ShellHasSubfolder) ? QTreeWidgetItem::ShowIndicator
                                                                          : QTreeWidgetItem::DontShowIndicator);
    if (const ImageList* list = tree->imageList()) {
        item->setIcon(0, list->nodeIcon(tree->shell().icon(*native, false, root),
                                        tree->shell().icon(*native, true, root),
                                        (attrs & platform::ShellShare) != 0));
    }
    if (parent)
        parent->addChild(item);
    else
        tree->addTopLevelItem(item);
    return item;
}

void ExpandFolderNode(FolderTree* tree, QTreeWidgetItem* node, const QString& path)
{
    const WaitCursor wait;
    const QString folder = QualifyPath(path);
    QStringList names;
    if (const auto native = tree->table().toNative(folder)) {
        try {
            names = tree->shell().listSubfolders(*native);
        } catch (const platform::RunTimeError&) {
            // A folder that cannot be read has no subfolders to show.
        }
    }
    int added = 0;
    for (const QString& name : names) {
        if (AddFolderNode(tree, node, folder + name))
            ++added;
    }
    if (added == 0)
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    else
        sortChildren(node);
}

void PruneCollapsedNodes(QTreeWidgetItem* start)
{
    if (!start)
        return;
    QTreeWidgetItem* parent = start->parent();
    QTreeWidget* tree = start->treeWidget();
    const int count = parent ? parent->childCount() : (tree ? tree->topLevelItemCount() : 1);
    const int first = parent ? parent->indexOfChild(start) : (tree ? tree->indexOfTopLevelItem(start) : 0);
    for (int i = first; i < count; ++i) {
        QTreeWidgetItem* node = parent ? parent->child(i) : (tree ? tree->topLevelItem(i) : start);
        if (node->isExpanded()) {
            if (node->childCount() > 0)
                PruneCollapsedNodes(node->child(0));
        } else {
            // The expand button stays: the next expansion reads the disk.
            qDeleteAll(node->takeChildren());
        }
    }
}

QString NodeTag(const QTreeWidgetItem* node)
{
    return node ? node->data(0, TagRole).toString() : QString();
}

QString QualifyPath(const QString& path)
{
    return path.endsWith(u'\\') ? path : path + u'\\';
}

} // namespace tree
