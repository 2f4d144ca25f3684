// The folder tree on real folders: a temporary folder stands in for drive t:.
// The shell is the real one, wrapped to count disk reads and, where a test
// needs what a machine cannot do on demand, to fail one folder's query or to
// list in a chosen order. And the window hooks it relies on, on real widgets.
#include "support/fakes.h"
#include "support/volumes.h"
#include "tree/foldertree.h"
#include "tree/subclass.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

namespace {

class CountingShell : public platform::ShellInfo {
public:
    quint32 attributes(const QString& nativePath) const override
    {
        return failing.contains(nativePath) ? 0 : ShellInfo::attributes(nativePath);
    }
    bool hasSubfolders(const QString& nativeFolder) const override
    {
        ++probes;
        return ShellInfo::hasSubfolders(nativeFolder);
    }
    QStringList listSubfolders(const QString& nativeFolder) const override
    {
        ++listings;
        QStringList names = ShellInfo::listSubfolders(nativeFolder);
        if (descending)
            std::sort(names.begin(), names.end(), std::greater<>());
        return names;
    }
    QSet<QString> failing;
    bool descending = false;
    mutable int probes = 0, listings = 0;
};

QStringList texts(const QTreeWidgetItem* node)
{
    QStringList out;
    for (int i = 0; i < node->childCount(); ++i)
        out << node->child(i)->text(0);
    return out;
}

bool hasButton(const QTreeWidgetItem* node)
{
    return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

// t: is the temporary folder, u: a folder that does not exist; the tree's
// window carries the hook that loads nodes as they open.
class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drives.emplace("ZARVEX_DRIVES", "c=/;t=" + dir.path() + ";u=" + dir.path() + "/missing");
        tree = new tree::FolderTree(&window, nullptr, &shell);
        tree::HookFolderTree(tree, &window, &prompter);
    }
    void mkdirs(std::initializer_list<const char*> paths)
    {
        for (const char* p : paths)
            ASSERT_TRUE(QDir(dir.path()).mkpath(p)) << p;
    }
    QTreeWidgetItem* load() { return tree::LoadDriveTree(tree, "t:\\"); }

    QTemporaryDir dir;
    std::optional<testsupport::EnvGuard> drives;
    CountingShell shell;
    testsupport::ScriptedPrompter prompter;
    QWidget window;
    tree::FolderTree* tree = nullptr;
};

// The disk lists in reverse and one folder's details cannot be read: the
// rest still comes sorted by name, each child tagged with its own path. A
// folder without permissions is shown (and root reads it anyway); a root
// that cannot be shown leaves the tree empty.
TEST_F(FolderTreeTest, LoadsRootAndFirstLevelWithTagsNamesAndButtons)
{
    mkdirs({"Apps/Sub", "beta", "Empty", "FilesOnly", "DotsOnly/.cache", ".settings", "Broken/Inner", "Locked/Inner"});
    for (const char* file : {"FilesOnly/a.txt", "top.txt"})
        ASSERT_TRUE(QFile(dir.filePath(file)).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(dir.filePath("Apps"), dir.filePath("LinkToApps")));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("Locked"), {}));
    shell.failing.insert(dir.filePath("Broken"));
    shell.descending = true;

    QTreeWidgetItem* root = load();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(tree::NodeTag(root), "t:\\");
    EXPECT_EQ(root->text(0), QDir(dir.path()).dirName() + " (T:)");
    EXPECT_TRUE(root->isExpanded() && tree->currentItem() == root);
    // Dot names and links to folders are never shown; files are not folders.
    ASSERT_EQ(texts(root), (QStringList{"Apps", "beta", "DotsOnly", "Empty", "FilesOnly", "Locked"}));
    const bool readable = testsupport::isRoot();
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* child = root->child(i);
        SCOPED_TRACE(child->text(0).toStdString());
        EXPECT_EQ(tree::NodeTag(child), "t:\\" + child->text(0));
        EXPECT_EQ(child->childCount(), 0); // not read before it opens
        EXPECT_EQ(hasButton(child), i == 0 || (i == 5 && readable));
    }
    root->child(0)->setExpanded(true);
    ASSERT_EQ(texts(root->child(0)), QStringList{"Sub"});
    EXPECT_EQ(tree::NodeTag(root->child(0)->child(0)), "t:\\Apps\\Sub");
    tree::ExpandFolderNode(tree, root->child(5), "t:\\Locked");
    EXPECT_EQ(texts(root->child(5)), readable ? QStringList{"Inner"} : QStringList{});
    QFile::setPermissions(dir.filePath("Locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // u: is mapped to a folder that does not exist; w: is not mapped at all.
    for (const char* drive : {"u:\\", "w:\\"}) {
        EXPECT_EQ(tree::LoadDriveTree(tree, drive), nullptr);
        EXPECT_EQ(tree->topLevelItemCount(), 0);
    }
}

TEST_F(FolderTreeTest, DriveWithManyFoldersReadsOneLevelOnly)
{
    // Thousands of folders are quick to make on a memory volume.
    testsupport::ScratchVolume volume(testsupport::ScratchVolume::Kind::Tmpfs, 16);
    const QString folder = volume.ok() ? volume.folder() : dir.path();
    drives.emplace("ZARVEX_DRIVES", "c=/;t=" + folder);
    tree->refreshTable();
    constexpr int count = 3000;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("f%1").arg(i, 4, 10, QLatin1Char('0'));
        ASSERT_TRUE(QDir(folder).mkpath(i % 10 == 0 ? name + "/inner" : name));
    }

    QTreeWidgetItem* node = load();
    ASSERT_EQ(node->childCount(), count);
    EXPECT_EQ(shell.listings, 1);
    EXPECT_EQ(shell.probes, count + 1); // the root and one look into each child
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(hasButton(node->child(i)), i % 10 == 0) << i;
    node->child(20)->setExpanded(true);
    EXPECT_EQ(shell.listings, 2);
    EXPECT_EQ(texts(node->child(20)), QStringList{"inner"});
    tree::ClearTree(tree);
}

// A node that already has children reads nothing as it opens, whatever
// changed on the disk, until a prune drops the collapsed ones; an item not
// made by the tree's routines has no path to read; an unhooked window
// loads nothing.
TEST_F(FolderTreeTest, PruneKeepsExpandedBranchesAndRereadsCollapsedOnes)
{
    mkdirs({"A/A1/A1x", "A/A2/A2x", "B/B1", "Gone/G1"});
    QTreeWidgetItem* root = load();
    QTreeWidgetItem *a = root->child(0), *b = root->child(1), *gone = root->child(2);
    a->setExpanded(true);
    QTreeWidgetItem *a1 = a->child(0), *a2 = a->child(1);
    a1->setExpanded(true);
    for (QTreeWidgetItem* n : {a2, b, gone}) {
        n->setExpanded(true);
        n->setExpanded(false);
    }
    mkdirs({"B/B0"});
    ASSERT_TRUE(QDir(dir.filePath("Gone")).removeRecursively());
    b->setExpanded(true);
    EXPECT_EQ(texts(b), QStringList{"B1"});
    b->setExpanded(false);
    tree::PruneCollapsedNodes(root);

    EXPECT_EQ(texts(root), (QStringList{"A", "B", "Gone"}));
    EXPECT_EQ(texts(a), (QStringList{"A1", "A2"}));
    EXPECT_EQ(texts(a1), QStringList{"A1x"});
    for (QTreeWidgetItem* n : {a2, b, gone})
        EXPECT_TRUE(n->childCount() == 0 && hasButton(n)) << n->text(0).toStdString();
    b->setExpanded(true);
    EXPECT_EQ(texts(b), (QStringList{"B0", "B1"}));
    gone->setExpanded(true);
    EXPECT_TRUE(gone->childCount() == 0 && !hasButton(gone));

    auto* stray = new QTreeWidgetItem(root, QStringList{"stray"});
    stray->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    stray->setExpanded(true);
    EXPECT_EQ(stray->childCount(), 0);
    ASSERT_TRUE(tree::UnsubclassWindow(&window));
    EXPECT_EQ(load()->childCount(), 0);
}

// The tree's hook keeps its image list (any later one is refused) until the
// window's close unhooks it, which detaches the list and clears the nodes.
TEST_F(FolderTreeTest, HookKeepsTheImageListUntilUnhookingDetachesItAndClears)
{
    load();
    const tree::ImageList* small = tree::GetSystemImageList(tree::ShellSmallIcon);
    const tree::ImageList* large = tree::GetSystemImageList(0);
    EXPECT_EQ(tree->imageList(), small);
    EXPECT_FALSE(tree::SetTreeImageList(tree, large) || tree::SetTreeImageList(tree, nullptr));
    EXPECT_EQ(tree->imageList(), small);
    tree::UnhookFolderTree(tree);
    EXPECT_TRUE(tree->imageList() == nullptr && tree->topLevelItemCount() == 0);
    EXPECT_TRUE(tree::SetTreeImageList(tree, large));
    EXPECT_EQ(tree->iconSize(), QSize(32, 32));
    EXPECT_TRUE(prompter.texts.isEmpty());
}

// Procedures record what they see in plain counters: a window procedure is a
// bare function.
int procACalls = 0, procBCalls = 0, destroysSeen = 0;

bool procA(QObject* window, QEvent* event)
{
    ++procACalls;
    if (event->type() == QEvent::Destroy) {
        ++destroysSeen;
        tree::UnsubclassWindow(window);
    }
    return false;
}

bool procB(QObject*, QEvent*)
{
    ++procBCalls;
    return false;
}

void poke(QObject* window)
{
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(window, &e);
}

bool hooked(QObject* window)
{
    return window->property(tree::OldWndProcProperty).isValid();
}

// A window class that claims the owner property for itself, read-only: the
// installer cannot store it.
class ClaimsOwnerProperty : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int ObjectPtr READ objectPtr)
public:
    int objectPtr() const { return 7; }
};

class HookTest : public ::testing::Test {
protected:
    void SetUp() override { procACalls = procBCalls = destroysSeen = 0; }
    testsupport::ScriptedPrompter prompter;
};

// A second hook leaves the first in place; removed, the window is as it was;
// a destroyed window's procedure is told last and its hook goes with it.
TEST_F(HookTest, InstallTwiceKeepsTheFirstRemoveRestoresDestroyEnds)
{
    auto* w = new QWidget;
    QObject owner;
    EXPECT_FALSE(tree::UnsubclassWindow(w)); // not hooked: nothing to do
    ASSERT_TRUE(tree::SubclassWindow(w, procB, &owner, &prompter));
    EXPECT_EQ(w->property(tree::ObjectPtrProperty).value<QObject*>(), &owner);
    EXPECT_TRUE(tree::SubclassWindow(w, procA, nullptr, &prompter));
    poke(w);
    EXPECT_TRUE(procBCalls > 0 && procACalls == 0);

    ASSERT_TRUE(tree::UnsubclassWindow(w));
    EXPECT_FALSE(hooked(w) || w->property(tree::ObjectPtrProperty).isValid());
    const int seen = procBCalls;
    poke(w);
    EXPECT_EQ(procBCalls, seen);
    ASSERT_TRUE(tree::SubclassWindow(w, procA, nullptr, &prompter));
    poke(w);
    EXPECT_GT(procACalls, 0);
    const QPointer<QObject> hook = w->property(tree::OldWndProcProperty).value<QObject*>();
    ASSERT_FALSE(hook.isNull());
    delete w;
    EXPECT_EQ(destroysSeen, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(hook.isNull());
    EXPECT_TRUE(prompter.texts.isEmpty());
}

TEST_F(HookTest, FailedInstallTellsWhyAndLeavesWindowAsItWas)
{
    ClaimsOwnerProperty w;
    QObject owner;
    EXPECT_FALSE(tree::SubclassWindow(&w, procA, &owner, &prompter));
    EXPECT_FALSE(tree::SubclassWindow(nullptr, procA, nullptr, &prompter));
    const QString hex = QString::number(reinterpret_cast<quintptr>(&w), 16).toUpper();
    EXPECT_EQ(prompter.texts, (QStringList{"Error subclassing window &H" + hex + "\r\n\r\nErr# 0: ",
                                           "Error subclassing window &H0\r\n\r\n"
                                           "Err# 91: Object variable or With block variable not set"}));
    EXPECT_FALSE(hooked(&w));
    const int seen = procACalls;
    poke(&w);
    EXPECT_EQ(procACalls, seen);
    // Without an owner there is nothing it refuses.
    EXPECT_TRUE(tree::SubclassWindow(&w, procA, nullptr, &prompter));
}

} // namespace

#include "foldertree_test.moc"
