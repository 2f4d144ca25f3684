#pragma once
// The Help, Tutorials and About menus both working windows carry.
#include <QMap>
#include <QString>
#include <functional>

class QAction;
class QMenuBar;
class QUrl;
class QWidget;

namespace platform {
class Prompter;
}

namespace info {

enum class MenuWindow { Main, FileWipe };

// What a menu entry does: open the viewer on a topic, answer with the
// tutorial message, open the support mail, or show the about window.
enum class MenuAction { Topic, Tutorial, Contact, About };

struct MenuEntry {
    QString name;    // item name, also the QAction's object name
    QString caption; // empty for a separator
    MenuAction action = MenuAction::Topic;
    QString topic;   // for MenuAction::Topic
};

struct MenuDef {
    QString caption;
    QList<MenuEntry> entries;
};

// Help, Tutorials and About, in that order, as the window shows them.
QList<MenuDef> helpMenus(MenuWindow window);

// Adds the menus to `bar`; returns the actions by item name.
QMap<QString, QAction*> addHelpMenus(QMenuBar* bar, MenuWindow window);

// Gives every entry of `items` (as addHelpMenus returned them for `window`)
// its action: a topic opens the viewer, a tutorial answers with the
// tutorial message, Contact opens the support mail, About1 the about
// window. The connections live as long as `owner`. Messages go to
// `prompter`, which must outlive the viewer.
void connectHelpMenus(const QMap<QString, QAction*>& items, MenuWindow window, QWidget* owner,
                      platform::Prompter& prompter);

inline const QString kTutorialMessage = QStringLiteral("Tutorials are not included in the Download version");
inline const QString kSupportAddress = QStringLiteral("support@orvane.example");
inline const QString kSupportSubject = QStringLiteral("Re: Orvane Drive Wiper Customer Support");

// "mailto:" + address + "?subject=" + subject.
QString supportMailLink();

// Hands a link to the desktop's handler; false when none took it. Empty
// restores QDesktopServices (tests capture the link instead).
using UrlOpener = std::function<bool(const QUrl&)>;
void setUrlOpener(UrlOpener opener);

} // namespace info
