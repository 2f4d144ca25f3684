#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace controls;

TEST(DriveListBoxTest, EntriesStartOnCurrentDriveAndSignalRealChangesOnly)
{
    QTemporaryDir a, b;
    testsupport::EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + a.path() + ";u=" + b.path());
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(b.path());
    platform::LinuxDriveServices drives;
    DriveListBox list(drives);
    QDir::setCurrent(oldCwd);

    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.itemText(1), "t: [" + a.path() + "]");
    EXPECT_EQ(list.drive(), "u: [" + b.path() + "]"); // the working directory's drive

    QSignalSpy spy(&list, &DriveListBox::driveChanged);
    EXPECT_TRUE(list.setDrive("U:"));
    EXPECT_EQ(spy.count(), 0); // no change, no notice
    EXPECT_TRUE(list.setDrive("T:\\x"));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(list.drive().left(2), "t:");
    EXPECT_FALSE(list.setDrive("q:"));
    EXPECT_EQ(spy.count(), 1);
    list.setCurrentIndex(0); // as the user picks an entry
    EXPECT_EQ(spy.count(), 2);
    list.refresh(); // same table, same selection
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(list.drive().left(2), "c:");
}

TEST(FileListBoxTest, PatternsFiltersAndSelection)
{
    QTemporaryDir dir;
    // Regular files only: no folder, no link; a name with a backslash is a
    // file like any other.
    for (const char* n : {"b.TXT", "a.txt", "c.doc", "noext", ".hid.txt", "ro.txt", "back\\slash.txt"})
        ASSERT_TRUE(QFile(dir.filePath(n)).open(QIODevice::WriteOnly));
    QFile::setPermissions(dir.filePath("ro.txt"), QFile::ReadOwner);
    QDir(dir.path()).mkdir("folder.txt");
    QFile::link(dir.filePath("a.txt"), dir.filePath("link.txt"));
    FileListBox list;
    list.setPath(dir.path());
    auto names = [&] {
        QStringList n;
        for (int i = 0; i < list.listCount(); ++i)
            n << list.entry(i);
        return n;
    };
    EXPECT_EQ(names(), QStringList({"a.txt", "b.TXT", "back\\slash.txt", "c.doc", "noext", "ro.txt"}));
    list.setPattern("*.txt;*.DOC");
    EXPECT_EQ(names(), QStringList({"a.txt", "b.TXT", "back\\slash.txt", "c.doc", "ro.txt"}));
    list.setShowReadOnly(false);
    EXPECT_EQ(names(), QStringList({"a.txt", "b.TXT", "back\\slash.txt", "c.doc"}));
    list.setShowHidden(true);
    EXPECT_EQ(names(), QStringList({".hid.txt", "a.txt", "b.TXT", "back\\slash.txt", "c.doc"}));
    list.setPattern("?.txt");
    EXPECT_EQ(names(), QStringList({"a.txt", "b.TXT"}));

    list.setSelected(0, true);
    list.setSelected(1, true);
    EXPECT_TRUE(list.selected(0) && list.selected(1));
    list.setSelected(0, false);
    EXPECT_FALSE(list.selected(0));
    EXPECT_FALSE(list.selected(7));

    list.setPath(dir.filePath("gone"));
    EXPECT_EQ(list.listCount(), 0);
}

// Only * and ? are wildcards; every other character, [ and \ too, is one of
// the name's own.
TEST(FileListBoxTest, OnlyStarAndQuestionMarkAreWildcards)
{
    const struct { const char* pattern; const char* name; bool matches; } cases[] = {
        {"a[1].txt", "a[1].txt", true}, {"a[1].txt", "a1.txt", false}, {"*.*", "README", true},
        {"*.tx?", "b.TXT", true},       {"*.txt", "a.txt.bak", false}, {"back\\*", "back\\slash.txt", true},
        {"*.txt;*.doc", "c.DOC", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(controls::matchesPattern(c.name, c.pattern), c.matches) << c.pattern << " " << c.name;
}
