#pragma once
// Window hooks: a procedure put in front of a window so that it sees every
// event before the window's own handling does. The folder tree needs two:
// one on the tree that refuses any change of its image list, one on the
// tree's window that loads a node's subfolders when the tree announces the
// node is opening.
//
// A hook is an event filter object owned by the window. The window carries
// two properties while hooked: "OldWndProc", the hook that stands between the
// window and what was in force before it (its presence marks the window as
// hooked), and "ObjectPtr", the owner object when the installer gave one.
#include <QObject>

class QEvent;

namespace platform {
class Prompter;
}

namespace tree {

inline constexpr char OldWndProcProperty[] = "OldWndProc";
inline constexpr char ObjectPtrProperty[] = "ObjectPtr";

// Sees an event to `window`. Returns true to keep it from the window's own
// handling, false to pass it on. At the window's destruction a procedure is
// shown a QEvent::Destroy after the window's own handlers have run.
using WindowProc = bool (*)(QObject* window, QEvent* event);

// Hooks `window` with `proc`. True when the window is hooked, including when
// it already was (the earlier hook then stays as it is). On failure the
// window keeps what it had, a message tells why (through `prompter` when
// given, else a warning box) and the result is false.
bool SubclassWindow(QObject* window, WindowProc proc, QObject* owner = nullptr,
                    platform::Prompter* prompter = nullptr);

// Takes the hook away. False, changing nothing, when the window is not hooked.
bool UnsubclassWindow(QObject* window);

// On the tree: refuses every SetImageListEvent (the tree's reply stays
// false), so the list given before the hook stays in force.
bool TreeWindowProc(QObject* window, QEvent* event);

// On the tree's window: on the tree's ItemExpanding notice for a node with
// no children yet, reads that node's subfolders. Passes everything on.
bool TreeParentWindowProc(QObject* window, QEvent* event);

class FolderTree;

// What the tree's window does as it loads: the tree takes the shared small
// icons, then the tree is hooked and then the window. The image list comes
// first because the tree's hook refuses every later one.
void HookFolderTree(FolderTree* tree, QObject* window, platform::Prompter* prompter = nullptr);

// What the window does on cancel and close: the tree's hook goes first (it
// would refuse the detach), then the image list, then the nodes. The
// window's own hook goes with the window.
void UnhookFolderTree(FolderTree* tree);

} // namespace tree
