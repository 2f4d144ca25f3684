// The folder tree on real folders: a temporary folder stands in for drive t:.
// The shell is the real one, wrapped to count disk reads and, where a test
// needs what a machine cannot do on demand, to fail one folder's query or to
// list in a chosen order.
#include "support/fakes.h"
#include "support/volumes.h"
#include "tree/foldertree.h"
#include "tree/subclass.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

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
    mutable int probes = 0;
    mutable int listings = 0;
};

QStringList texts(const QTreeWidgetItem* node)
{
    QStringList out;
    for (int i = 0; i < node->childCount(); ++i)
        out << node->child(i)->text(0);
    return out;
}

QTreeWidgetItem* childNamed(const QTreeWidgetItem* node, const QString& text)
{
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->text(0) == text)
            return node->child(i);
    return nullptr;
}

bool hasButton(const QTreeWidgetItem* node)
{
    return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

class FolderTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        drives = std::make_unique<testsupport::EnvGuard>(
            "ZARVEX_DRIVES", QStringLiteral("c=/;t=") + dir.path() + QStringLiteral(";u=") + dir.path() +
                                 QStringLiteral("/missing"));
        tree = new tree::FolderTree(&window, nullptr, &shell);
        tree::HookFolderTree(tree, &window, &prompter);
    }

    void mkdirs(std::initializer_list<const char*> paths)
    {
        for (const char* p : paths)
            ASSERT_TRUE(QDir(dir.path()).mkpath(QString::fromUtf8(p))) << p;
    }
    QTreeWidgetItem* load() { return tree::LoadDriveTree(tree, QStringLiteral("t:\\")); }

    QTemporaryDir dir;
    std::unique_ptr<testsupport::EnvGuard> drives;
    CountingShell shell;
    testsupport::ScriptedPrompter prompter;
    QWidget window;
    tree::FolderTree* tree = nullptr;
};

// The disk lists in reverse and one folder's details cannot be read: the
// rest still comes sorted by name, each child tagged with its own path.
TEST_F(FolderTreeTest, LoadsRootAndFirstLevelWithTagsNamesAndButtons)
{
    mkdirs({"Apps/Sub", "beta", "Empty", "FilesOnly", "DotsOnly/.cache", ".settings", "Broken/Inner"});
    for (const char* file : {"FilesOnly/a.txt", "top.txt"})
        ASSERT_TRUE(QFile(dir.filePath(QString::fromUtf8(file))).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("Apps")), dir.filePath(QStringLiteral("LinkToApps"))));
    shell.failing.insert(dir.filePath(QStringLiteral("Broken")));
    shell.descending = true;

    QTreeWidgetItem* root = load();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree::NodeTag(root), QStringLiteral("t:\\"));
    EXPECT_EQ(root->text(0), QDir(dir.path()).dirName() + QStringLiteral(" (T:)"));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(tree->currentItem(), root);
    EXPECT_FALSE(root->icon(0).isNull());

    // Dot names and links to folders are never shown; files are not folders.
    ASSERT_EQ(texts(root), (QStringList{"Apps", "beta", "DotsOnly", "Empty", "FilesOnly"}));
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* child = root->child(i);
        EXPECT_EQ(tree::NodeTag(child), QStringLiteral("t:\\") + child->text(0));
        EXPECT_EQ(child->childCount(), 0) << "not read before it opens";
        EXPECT_EQ(hasButton(child), i == 0) << child->text(0).toStdString();
    }
    QTreeWidgetItem* apps = root->child(0);
    apps->setExpanded(true);
    ASSERT_EQ(apps->childCount(), 1);
    EXPECT_EQ(tree::NodeTag(apps->child(0)), QStringLiteral("t:\\Apps\\Sub"));
    EXPECT_EQ(apps->child(0)->text(0), QStringLiteral("Sub"));
}

TEST_F(FolderTreeTest, RootThatCannotBeShownLeavesTreeEmpty)
{
    ASSERT_NE(load(), nullptr);
    // u: is mapped to a folder that does not exist; w: is not mapped at all.
    for (const QString& drive : {QStringLiteral("u:\\"), QStringLiteral("w:\\")}) {
        EXPECT_EQ(tree::LoadDriveTree(tree, drive), nullptr);
        EXPECT_EQ(tree->topLevelItemCount(), 0);
    }
}

TEST_F(FolderTreeTest, FolderWithoutPermissionsIsStillShown)
{
    mkdirs({"Locked/Inner"});
    const QString locked = dir.filePath(QStringLiteral("Locked"));
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    QTreeWidgetItem* node = childNamed(load(), QStringLiteral("Locked"));
    ASSERT_NE(node, nullptr);
    // Root reads it anyway; anyone else sees nothing inside.
    const bool readable = testsupport::isRoot();
    EXPECT_EQ(hasButton(node), readable);
    tree::ExpandFolderNode(tree, node, tree::NodeTag(node));
    EXPECT_EQ(texts(node), readable ? QStringList{"Inner"} : QStringList{});
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(FolderTreeTest, DriveWithManyFoldersReadsOneLevelOnly)
{
    // Thousands of folders are quick to make on a memory volume.
    testsupport::ScratchVolume volume(testsupport::ScratchVolume::Kind::Tmpfs, 16);
    const QString folder = volume.ok() ? volume.folder() : dir.path();
    testsupport::EnvGuard mapped("ZARVEX_DRIVES", QStringLiteral("c=/;t=") + folder);
    tree->refreshTable();

    constexpr int count = 3000;
    QDir root(folder);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("f%1").arg(i, 4, 10, QLatin1Char('0'));
        ASSERT_TRUE(root.mkpath(i % 10 == 0 ? name + QStringLiteral("/inner") : name));
    }

    QTreeWidgetItem* node = load();
    ASSERT_EQ(node->childCount(), count);
    EXPECT_EQ(shell.listings, 1);
    EXPECT_EQ(shell.probes, count + 1); // the root and one look into each child
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(node->child(i)->childCount(), 0) << i;
        ASSERT_EQ(hasButton(node->child(i)), i % 10 == 0) << i;
    }
    node->child(20)->setExpanded(true);
    EXPECT_EQ(shell.listings, 2);
    EXPECT_EQ(texts(node->child(20)), QStringList{"inner"});
    tree::ClearTree(tree);
}

TEST_F(FolderTreeTest, PruneKeepsExpandedBranchesAndRereadsCollapsedOnes)
{
    mkdirs({"A/A1/A1x", "A/A2/A2x", "B/B1", "Gone/G1"});
    QTreeWidgetItem* root = load();
    QTreeWidgetItem* a = childNamed(root, QStringLiteral("A"));
    QTreeWidgetItem* b = childNamed(root, QStringLiteral("B"));
    QTreeWidgetItem* gone = childNamed(root, QStringLiteral("Gone"));
    a->setExpanded(true);
    QTreeWidgetItem* a1 = childNamed(a, QStringLiteral("A1"));
    QTreeWidgetItem* a2 = childNamed(a, QStringLiteral("A2"));
    a1->setExpanded(true);
    for (QTreeWidgetItem* n : {a2, b, gone}) {
        n->setExpanded(true);
        n->setExpanded(false);
    }
    ASSERT_EQ(texts(b), QStringList{"B1"});

    mkdirs({"B/B0"});
    ASSERT_TRUE(QDir(dir.filePath(QStringLiteral("Gone"))).removeRecursively());
    tree::PruneCollapsedNodes(tree->topLevelItem(0));

    EXPECT_EQ(texts(root), (QStringList{"A", "B", "Gone"}));
    EXPECT_EQ(texts(a), (QStringList{"A1", "A2"}));
    EXPECT_EQ(texts(a1), QStringList{"A1x"});
    for (QTreeWidgetItem* n : {a2, b, gone}) {
        EXPECT_EQ(n->childCount(), 0) << n->text(0).toStdString();
        EXPECT_TRUE(hasButton(n)) << n->text(0).toStdString();
    }

    b->setExpanded(true);
    EXPECT_EQ(texts(b), (QStringList{"B0", "B1"}));
    gone->setExpanded(true);
    EXPECT_EQ(gone->childCount(), 0);
    EXPECT_FALSE(hasButton(gone));
}

TEST_F(FolderTreeTest, UnhookingOnCloseDetachesImagesAndClears)
{
    mkdirs({"A"});
    load();
    EXPECT_EQ(tree->imageList(), tree::GetSystemImageList(tree::ShellSmallIcon));
    EXPECT_EQ(tree->iconSize(), QSize(16, 16));
    tree::UnhookFolderTree(tree);
    EXPECT_EQ(tree->imageList(), nullptr);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_TRUE(prompter.texts.isEmpty());
}

} // namespace
