#include "tree/subclass.h"
#include "platform/errors.h"
#include "platform/prompter.h"
#include "tree/foldertree.h"

#include <QApplication>
#include <QMessageBox>
#include <QVariant>

namespace tree {

namespace {

// The filter that puts a procedure in front of one window. It is the
// window's child, so it goes with the window at the latest.
class WindowHook : public QObject {
public:
    WindowHook(QObject* window, WindowProc proc) : QObject(window), proc_(proc)
    {
        // The window's own handlers have run by the time it is destroyed;
        // the procedure is told last, as a Destroy, and unhooks.
        connect(window, &QObject::destroyed, this, [this](QObject* w) {
            QEvent destroy(QEvent::Destroy);
            proc_(w, &destroy);
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return watched == parent() && proc_(watched, event);
    }

private:
    WindowProc proc_;
};

// The live hook named by the window's "OldWndProc", or nullptr.
WindowHook* hookOf(QObject* window)
{
    auto* named = window->property(OldWndProcProperty).value<QObject*>();
    if (!named || !window->children().contains(named))
        return nullptr;
    return dynamic_cast<WindowHook*>(named);
}

// A property store can fail: a class may declare the name read-only.
bool storeProperty(QObject* window, const char* name, QObject* value)
{
    const QVariant v = QVariant::fromValue(value);
    window->setProperty(name, v);
    return window->property(name) == v;
}

void removeProperty(QObject* window, const char* name)
{
    window->setProperty(name, QVariant());
}

void showInstallFailure(const QString& text, platform::Prompter* prompter)
{
    if (prompter) {
        prompter->message(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
                    QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace

bool SubclassWindow(QObject* window, WindowProc proc, QObject* owner, platform::Prompter* prompter)
{
    int number = 0;
    QString description;
    WindowHook* hook = nullptr;
    bool ownerStored = false;
    try {
        if (!window || !proc)
            throw platform::RunTimeError(platform::ErrObjectNotSet);
        if (window->property(OldWndProcProperty).value<QObject*>())
            return true;
        hook = new WindowHook(window, proc);
        window->installEventFilter(hook);
        bool ok = storeProperty(window, OldWndProcProperty, hook);
        if (ok && owner)
            ok = ownerStored = storeProperty(window, ObjectPtrProperty, owner);
        if (ok)
            return true;
    } catch (const platform::RunTimeError& e) {
        number = e.number();
        description = e.description();
    }
    // The window keeps what it had: no filter, no properties of ours.
    if (hook) {
        window->removeEventFilter(hook);
        if (window->property(OldWndProcProperty).value<QObject*>() == hook)
            removeProperty(window, OldWndProcProperty);
        if (ownerStored)
            removeProperty(window, ObjectPtrProperty);
        delete hook;
    }
    showInstallFailure(QStringLiteral("Error subclassing window &H%1\r\n\r\nErr# %2: %3")
                           .arg(QString::number(reinterpret_cast<quintptr>(window), 16).toUpper(),
                                QString::number(number), description),
                       prompter);
    return false;
}

bool UnsubclassWindow(QObject* window)
{
    if (!window || !window->property(OldWndProcProperty).value<QObject*>())
        return false;
    WindowHook* hook = hookOf(window);
    if (!hook)
        return false; // nothing of ours to take away: the marks stay
    window->removeEventFilter(hook);
    // Later, not now: this may run inside the hook's own call.
    hook->deleteLater();
    removeProperty(window, OldWndProcProperty);
    removeProperty(window, ObjectPtrProperty);
    return true;
}

bool TreeWindowProc(QObject* window, QEvent* event)
{
    if (event->type() == QEvent::Destroy) {
        UnsubclassWindow(window);
        return false;
    }
    // Swallowed: the tree never sees it and its reply stays false.
    return event->type() == SetImageListEvent::eventType();
}

bool TreeParentWindowProc(QObject* window, QEvent* event)
{
    if (event->type() == QEvent::Destroy) {
        UnsubclassWindow(window);
        return false;
    }
    if (event->type() == TreeNotifyEvent::eventType()) {
        const auto* notice = static_cast<const TreeNotifyEvent*>(event);
        QTreeWidgetItem* node = notice->item;
        // A node that holds children has been read already; an item that
        // carries no path is not one of ours.
        if (notice->code == TreeNotifyEvent::ItemExpanding && notice->sender && node &&
            node->childCount() == 0 && !NodeTag(node).isEmpty())
            ExpandFolderNode(notice->sender, node, NodeTag(node));
    }
    return false; // the expansion itself always goes ahead
}

void HookFolderTree(FolderTree* tree, QObject* window, platform::Prompter* prompter)
{
    SetTreeImageList(tree, GetSystemImageList(ShellSmallIcon));
    SubclassWindow(tree, TreeWindowProc, nullptr, prompter);
    SubclassWindow(window, TreeParentWindowProc, nullptr, prompter);
}

void UnhookFolderTree(FolderTree* tree)
{
    UnsubclassWindow(tree);
    SetTreeImageList(tree, nullptr);
    ClearTree(tree);
}

} // namespace tree
