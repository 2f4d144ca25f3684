// Window hooks on real widgets.
#include "support/fakes.h"
#include "tree/foldertree.h"
#include "tree/subclass.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// Procedures record what they see in plain counters: a window procedure is a
// bare function.
int procACalls = 0;
int procBCalls = 0;
int destroysSeen = 0;

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
    void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    testsupport::ScriptedPrompter prompter;
};

TEST_F(HookTest, InstallTwiceKeepsFirstHookAndRemoveRestores)
{
    QWidget w;
    QObject owner;
    EXPECT_FALSE(tree::UnsubclassWindow(&w)); // not hooked: nothing to do

    ASSERT_TRUE(tree::SubclassWindow(&w, procA, &owner, &prompter));
    EXPECT_EQ(w.property(tree::ObjectPtrProperty).value<QObject*>(), &owner);
    EXPECT_TRUE(tree::SubclassWindow(&w, procB, nullptr, &prompter));
    poke(&w);
    EXPECT_GT(procACalls, 0);
    EXPECT_EQ(procBCalls, 0);

    ASSERT_TRUE(tree::UnsubclassWindow(&w));
    EXPECT_FALSE(hooked(&w));
    EXPECT_FALSE(w.property(tree::ObjectPtrProperty).isValid());
    const int seen = procACalls;
    poke(&w);
    EXPECT_EQ(procACalls, seen);

    // A fresh hook after removal takes the new procedure.
    ASSERT_TRUE(tree::SubclassWindow(&w, procB, nullptr, &prompter));
    poke(&w);
    EXPECT_GT(procBCalls, 0);
    EXPECT_TRUE(prompter.texts.isEmpty());
}

TEST_F(HookTest, FailedInstallTellsWhyAndLeavesWindowAsItWas)
{
    ClaimsOwnerProperty w;
    QObject owner;
    EXPECT_FALSE(tree::SubclassWindow(&w, procA, &owner, &prompter));
    const QString hex = QString::number(reinterpret_cast<quintptr>(&w), 16).toUpper();
    EXPECT_FALSE(tree::SubclassWindow(nullptr, procA, nullptr, &prompter));
    EXPECT_EQ(prompter.texts,
              (QStringList{QStringLiteral("Error subclassing window &H") + hex + QStringLiteral("\r\n\r\nErr# 0: "),
                           QStringLiteral("Error subclassing window &H0\r\n\r\n"
                                          "Err# 91: Object variable or With block variable not set")}));
    EXPECT_FALSE(hooked(&w));
    const int seen = procACalls;
    poke(&w);
    EXPECT_EQ(procACalls, seen);
    // Without an owner there is nothing it refuses.
    EXPECT_TRUE(tree::SubclassWindow(&w, procA, nullptr, &prompter));
}

TEST_F(HookTest, DestroyedWindowIsToldLastAndLosesItsHook)
{
    auto* w = new QWidget;
    ASSERT_TRUE(tree::SubclassWindow(w, procA, nullptr, &prompter));
    QPointer<QObject> hook = w->property(tree::OldWndProcProperty).value<QObject*>();
    ASSERT_FALSE(hook.isNull());
    delete w;
    EXPECT_EQ(destroysSeen, 1);
    flushDeletes();
    EXPECT_TRUE(hook.isNull());
}

TEST_F(HookTest, TreeHookRefusesImageListUntilRemoved)
{
    tree::FolderTree t;
    const tree::ImageList* small = tree::GetSystemImageList(tree::ShellSmallIcon);
    const tree::ImageList* large = tree::GetSystemImageList(0);
    ASSERT_TRUE(tree::SetTreeImageList(&t, small));
    ASSERT_TRUE(tree::SubclassWindow(&t, tree::TreeWindowProc, nullptr, &prompter));
    EXPECT_FALSE(tree::SetTreeImageList(&t, large));
    EXPECT_FALSE(tree::SetTreeImageList(&t, nullptr));
    EXPECT_EQ(t.imageList(), small);

    ASSERT_TRUE(tree::UnsubclassWindow(&t));
    EXPECT_TRUE(tree::SetTreeImageList(&t, large));
    EXPECT_EQ(t.imageList(), large);
    EXPECT_EQ(t.iconSize(), QSize(32, 32));
}

TEST_F(HookTest, ParentHookLoadsOnlyNodesWithoutChildren)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("A/A1")));
    testsupport::EnvGuard drives("ZARVEX_DRIVES", QStringLiteral("c=/;t=") + dir.path());
    QWidget window;
    auto* t = new tree::FolderTree(&window);
    ASSERT_TRUE(tree::SubclassWindow(&window, tree::TreeParentWindowProc, nullptr, &prompter));
    QTreeWidgetItem* root = tree::LoadDriveTree(t, QStringLiteral("t:\\"));
    ASSERT_EQ(root->childCount(), 1);
    QTreeWidgetItem* a = root->child(0);

    // An item the tree did not make through its routines carries no path.
    auto* stray = new QTreeWidgetItem(root, QStringList{QStringLiteral("stray")});
    stray->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    stray->setExpanded(true);
    EXPECT_EQ(stray->childCount(), 0);

    // Children already there: an expansion reads nothing, even if the disk
    // changed meanwhile.
    a->setExpanded(true);
    ASSERT_EQ(a->childCount(), 1);
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("A/A2")));
    a->setExpanded(false);
    a->setExpanded(true);
    EXPECT_EQ(a->childCount(), 1);

    // Once unhooked, the window no longer loads anything.
    ASSERT_TRUE(tree::UnsubclassWindow(&window));
    root = tree::LoadDriveTree(t, QStringLiteral("t:\\"));
    EXPECT_EQ(root->childCount(), 0);
}

} // namespace

#include "subclass_test.moc"
