#pragma once
// The tree of a drive's folders: one root node for the drive, one node per
// folder, names and icons from the shell, subfolders read one level at a
// time, the first time a node is expanded.
//
// Every node carries its drive path as its tag (TagRole): the root `c:\`
// with its backslash, then `c:\Name`, `c:\Name\Sub`.
#include "platform/driveservices.h"
#include "platform/shellinfo.h"

#include <QEvent>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QSize>
#include <QTreeWidget>

namespace tree {

inline constexpr int TagRole = Qt::UserRole;
// The display name is kept to what the shell's name buffer holds.
inline constexpr int MaxDisplayName = 259;
// Icon-size flag for GetSystemImageList.
inline constexpr int ShellSmallIcon = 0x1;

// The set of images a tree draws its nodes with. One list per icon size is
// shared by every tree (GetSystemImageList); a tree only borrows it. Each
// node's image pairs the closed folder (normal) with the open folder
// (shown while the node is selected), the shared emblem laid over both.
class ImageList {
public:
    explicit ImageList(QSize iconSize) : size_(iconSize) {}
    QSize iconSize() const { return size_; }
    QIcon nodeIcon(const QIcon& closed, const QIcon& open, bool shared) const;

private:
    QSize size_;
    mutable QHash<QString, QIcon> cache_;
};

// The shared list for small icons (flags with ShellSmallIcon) or large ones.
const ImageList* GetSystemImageList(int flags);

class FolderTree;

// Asks a tree to draw with another image list. The tree is the one to act
// on it, and it does so through an event so that a window hook standing in
// front of the tree can refuse it: `replied` stays false then.
class SetImageListEvent : public QEvent {
public:
    explicit SetImageListEvent(const ImageList* list) : QEvent(eventType()), list(list) {}
    static QEvent::Type eventType();
    const ImageList* list;
    bool replied = false;
};

// A tree's notice to its window. ItemExpanding is sent, synchronously, as a
// node opens and before the view paints its children, so the window's hook
// can load them.
class TreeNotifyEvent : public QEvent {
public:
    enum Code { ItemExpanding };
    TreeNotifyEvent(Code code, FolderTree* sender, QTreeWidgetItem* item)
        : QEvent(eventType()), code(code), sender(sender), item(item) {}
    static QEvent::Type eventType();
    Code code;
    FolderTree* sender;
    QTreeWidgetItem* item;
};

// The tree control with what its routines need: the services it reads the
// disk through, the drive table of the current load and the borrowed image
// list. It never loads anything by itself: its window's hook does, on the
// ItemExpanding notice.
class FolderTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderTree(QWidget* parent = nullptr, platform::DriveServices* drives = nullptr,
                        platform::ShellInfo* shell = nullptr);

    const ImageList* imageList() const { return imageList_; }
    platform::ShellInfo& shell() const { return *shell_; }
    const platform::DriveTable& table() const { return table_; }
    // Reads the drive table again (each drive load does).
    void refreshTable();

protected:
    bool event(QEvent* e) override;

private:
    void announceExpanding(QTreeWidgetItem* item);

    platform::DriveServices* drives_;
    platform::ShellInfo* shell_;
    platform::DriveTable table_;
    const ImageList* imageList_ = nullptr;
};

// The control's reply: true when the tree took the list (nullptr detaches).
bool SetTreeImageList(FolderTree* tree, const ImageList* list);

// Clears the tree and shows the drive whose root path is given (`c:\`),
// opened one level. Returns the root node, nullptr when the root could not
// be shown (the tree stays empty then).
QTreeWidgetItem* LoadDriveTree(FolderTree* tree, const QString& rootPath);

// Removes the root and with it every node.
void ClearTree(FolderTree* tree);

// Adds the node for `path` as the last child of `parent` (a top-level node
// when parent is nullptr). Returns nullptr, adding nothing, when the shell
// cannot tell the path's attributes.
QTreeWidgetItem* AddFolderNode(FolderTree* tree, QTreeWidgetItem* parent, const QString& path);

// Reads the subfolders of `path` into `node`, sorted by name. A folder that
// yields none loses its expand button.
void ExpandFolderNode(FolderTree* tree, QTreeWidgetItem* node, const QString& path);

// For `start` and each following sibling: an expanded node keeps its
// children and is pruned below; a collapsed one loses its children (keeping
// its expand button) so that they are read from disk when it opens again.
void PruneCollapsedNodes(QTreeWidgetItem* start);

// The path a node stands for; empty for an item not made by AddFolderNode.
QString NodeTag(const QTreeWidgetItem* node);

// `path` with a backslash appended unless it already ends with one.
QString QualifyPath(const QString& path);

} // namespace tree
