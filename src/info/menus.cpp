#include "info/menus.h"

#include "session/settings.h"
#include "info/frmabout.h"
#include "info/frminfo.h"
#include "platform/prompter.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

namespace info {

static MenuEntry topic(const char* name, const char* caption, const char* key)
{
    return {QString::fromUtf8(name), QString::fromUtf8(caption), MenuAction::Topic, QString::fromUtf8(key)};
}

static MenuEntry tutorial(const char* name, const char* caption)
{
    return {QString::fromUtf8(name), QString::fromUtf8(caption), MenuAction::Tutorial, {}};
}

static MenuEntry separator()
{
    return {};
}

QList<MenuDef> helpMenus(MenuWindow window)
{
    const bool main = window == MenuWindow::Main;
    MenuDef help{QStringLiteral("Help"), {}};
    if (main) {
        help.entries = {topic("GenWipe", "General Wipe Information", "GenWipe"), separator(),
                        topic("DriveWipe", "Wipe Complete Drive", "DriveWipe"), separator(),
                        topic("WipeFolder", "Wipe Complete Folder", "FolderWipe"),
                        topic("FileWipe", "Wipe Files", "FileWipe"), separator(),
                        topic("WipeFree", "Wipe Free Space", "WipeFree"), separator(),
                        topic("stops", "IF Wipe Process Stops", "Stops"), separator(),
                        topic("Protects", "Built In Safeguards", "RegSafe")};
    } else {
        help.entries = {topic("WipeFolder", "Wipe Folders", "FolderWipe"),
                        topic("FileWipe", "Wipe Files", "FileWipe"), separator(),
                        topic("stops", "IF Wipe Stops", "Stops")};
    }
    const MenuDef tutorials{QStringLiteral("Tutorials"),
                            {tutorial("CVT", "Complete Video Tutorial"), separator(),
                             tutorial("DrW", "Drive Wiping"), separator(),
                             tutorial("FoW", "Folder Wipe Tutorial"),
                             tutorial("FiW", "File Wipe Tutorial"), separator(),
                             tutorial("SafeguardsTutorial", "Safeguards")}};
    const MenuDef about{
        QStringLiteral("About"),
        {topic("ReadMe", "Read Me File", "ReadMe"),
         topic("copyright", "Copyright Information", "CRInfo"), separator(),
         topic("CD", "Cautions and Disclaimers", "CandD"),
         topic("FAQ", "Frequently Asked Questions", "FAQ"),
         topic("EULA", main ? "EndUser License Agreement (\"EULA\")" : "End User License Agreement", "EULA"),
         topic("Privacy", main ? "Privacy Policies of Orvane Software" : "Privacy Policies", "RegPrivate"),
         separator(),
         {QStringLiteral("Contact"), QStringLiteral("Contact Customer Support"), MenuAction::Contact, {}},
         separator(),
         {QStringLiteral("About1"), QStringLiteral("About Orvane Drive Wiper"), MenuAction::About, {}}}};
    return {help, tutorials, about};
}

QMap<QString, QAction*> addHelpMenus(QMenuBar* bar, MenuWindow window)
{
    QMap<QString, QAction*> actions;
    for (const MenuDef& def : helpMenus(window)) {
        // Alt and the first letter opens it (File is Alt+F beside them).
        QMenu* menu = bar->addMenu(u'&' + def.caption);
        for (const MenuEntry& e : def.entries) {
            if (e.caption.isEmpty()) {
                menu->addSeparator();
                continue;
            }
            // Captions carry no access-key markers: a literal '&' stays one.
            QAction* a = menu->addAction(QString(e.caption).replace(u'&', QStringLiteral("&&")));
            a->setObjectName(e.name);
            actions.insert(e.name, a);
        }
    }
    return actions;
}

QString supportMailLink()
{
    return QStringLiteral("mailto:%1?subject=%2").arg(kSupportAddress, kSupportSubject);
}

namespace {
UrlOpener& urlOpener()
{
    static UrlOpener opener;
    return opener;
}

// The desktop may have no mail program; a click that silently does nothing
// would leave the user waiting for a mail window, so say where to write.
void openSupportMail(platform::Prompter& prompter)
{
    const QUrl link(supportMailLink());
    const bool opened = urlOpener() ? urlOpener()(link) : QDesktopServices::openUrl(link);
    if (!opened)
        prompter.message(QStringLiteral("No mail program could be started.\r\n\r\n"
                                        "Please write to %1 with the subject \"%2\".")
                             .arg(kSupportAddress, kSupportSubject));
}

std::function<void()> actionOf(const MenuEntry& entry, platform::Prompter* prompter)
{
    switch (entry.action) {
    case MenuAction::Topic:
        return [key = entry.topic, prompter] {
            session::settings().InfoTopic = key;
            showInfoWindow(*prompter);
        };
    case MenuAction::Tutorial:
        return [prompter] { prompter->message(kTutorialMessage); };
    case MenuAction::Contact:
        return [prompter] { openSupportMail(*prompter); };
    case MenuAction::About:
        return [] { showAboutWindow(); };
    }
    return {};
}
} // namespace

void setUrlOpener(UrlOpener opener)
{
    urlOpener() = std::move(opener);
}

void connectHelpMenus(const QMap<QString, QAction*>& items, MenuWindow window, QWidget* owner,
                      platform::Prompter& prompter)
{
    for (const MenuDef& def : helpMenus(window))
        for (const MenuEntry& entry : def.entries)
            if (QAction* action = items.value(entry.name))
                QObject::connect(action, &QAction::triggered, owner, actionOf(entry, &prompter));
}

} // namespace info
