#pragma once
// The Help, Tutorials and About menus both working windows carry.
#include <QMap>
#include <QString>

class QAction;
class QMenuBar;

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

} // namespace info
