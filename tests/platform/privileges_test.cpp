// How the program reaches its parts and root's rights: the helper and the
// data beside it in a build folder or in the installed places, and the
// command that runs the helper as root (pkexec's dialog itself cannot run
// here; the command it is given can be checked).
#include "platform/installation.h"
#include "platform/privileges.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace platform;

TEST(ProgramParts, BesideTheProgramInABuildFolderElseInTheInstalledPlaces)
{
    QTemporaryDir root;
    const QString bin = root.filePath("usr/bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    // Named even while missing, so that an error says where it was looked for.
    PartLocation helper = locatePart(bin, PartKind::Helper, "zarvexformat");
    EXPECT_EQ(helper.path, root.filePath("usr/libexec/zarvexwipe/zarvexformat"));
    EXPECT_TRUE(helper.installed);
    const PartLocation data = locatePart(bin, PartKind::Data, "ZarvexWipe.db");
    EXPECT_EQ(data.path, root.filePath("usr/share/zarvexwipe/ZarvexWipe.db"));
    EXPECT_TRUE(data.installed);

    QFile beside(bin + "/zarvexformat");
    ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
    helper = locatePart(bin, PartKind::Helper, "zarvexformat");
    EXPECT_EQ(helper.path, bin + "/zarvexformat");
    EXPECT_FALSE(helper.installed);
}

// pkexec's own failures (126, 127) say that nothing was changed.
TEST(RootCommand, RootRunsTheHelperItselfAUserThroughPkexec)
{
    const QString helper = "/usr/libexec/zarvexwipe/zarvexformat";
    const QStringList args{"--folder", "/media/me/MY STICK", "e:", "/fs:ntfs/x/y/q"};
    EXPECT_EQ(rootCommand(helper, args, true), QStringList{helper} + args);
    EXPECT_EQ(rootCommand(helper, args, false), (QStringList{"/usr/bin/pkexec", helper} + args));

    const QString said = "Error executing command as another user: Not authorized\n\nThis incident has been reported.";
    for (int code : {126, 127}) {
        const auto why = authorizationFailure(code, said);
        ASSERT_TRUE(why) << code;
        EXPECT_TRUE(why->contains("administrator's password")) << why->toStdString();
        EXPECT_TRUE(why->contains("Not authorized This incident")) << why->toStdString();
        EXPECT_TRUE(why->endsWith("Nothing was changed.")) << why->toStdString();
    }
    EXPECT_TRUE(authorizationFailure(126, {})->contains("dismissed"));
    // The helper's own codes, and a signal, pass through.
    for (int code : {0, 1, 2, 3, 4, -1})
        EXPECT_FALSE(authorizationFailure(code, said)) << code;
}

// pkexec takes the action whose path annotation names the helper; a policy
// that does not parse would leave the helper to pkexec's generic action.
TEST(RootCommand, PolicyAsksForAnAdministratorsPasswordEachTime)
{
    QFile file(QStringLiteral(ZARVEX_PACKAGING_DIR "/org.zarvexwipe.format.policy.in"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList actions, defaults;
    QString path;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"action")
            actions << xml.attributes().value("id").toString();
        else if (name.startsWith(u"allow_"))
            defaults << xml.readElementText();
        else if (name == u"annotate" && xml.attributes().value("key") == u"org.freedesktop.policykit.exec.path")
            path = xml.readElementText();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(actions, QStringList{"org.zarvexwipe.format"});
    EXPECT_EQ(defaults, QStringList(3, "auth_admin"));
    EXPECT_EQ(path, "@ZARVEX_HELPER_PATH@"); // the installed helper's, put in when installing
}
