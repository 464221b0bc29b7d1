#pragma once

#include <QList>
#include <QMultiHash>
#include <QStringList>
#include <QtGlobal>

#include <optional>

struct xcb_connection_t;

namespace platform
{

// A connection of our own to the X server, for the window-manager questions the
// workspace asks (which process owns the active window, which windows a process
// has and what class they are; please activate ours, please close that one).
// Without a reachable X display every question answers "unknown". xcb connections
// may be used from several threads, so the watcher thread can ask while the main
// thread works.
class X11Session
{
  public:
    X11Session();
    ~X11Session();
    X11Session(const X11Session &) = delete;
    X11Session &operator=(const X11Session &) = delete;

    // _NET_WM_PID of the window named by the root window's _NET_ACTIVE_WINDOW.
    std::optional<int> activeWindowProcess() const;
    // Asks the window manager to activate `window` as a pager would, which window
    // managers grant even while another application is active.
    void requestActivation(quint32 window) const;

    // The top-level windows of every process that names itself in _NET_WM_PID:
    // the window manager's _NET_CLIENT_LIST, or, with no window manager keeping
    // one, the mapped children of the root window.
    QMultiHash<int, quint32> windowsByProcess() const;
    // WM_CLASS of `window`: its instance name, then its class name; empty when unset.
    QStringList windowClass(quint32 window) const;
    // Asks `window` to close the way its close button does, without waiting: through
    // a running window manager that supports _NET_CLOSE_WINDOW, else with
    // WM_DELETE_WINDOW when the window takes it. False when neither way is open.
    bool requestClose(quint32 window) const;

  private:
    quint32 atom(const char *name) const;
    std::optional<quint32> cardinalProperty(quint32 window, quint32 property) const;
    QList<quint32> listProperty(quint32 window, quint32 property) const;
    bool windowManagerCloses() const;
    QList<quint32> topLevelWindows() const;

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_activeWindowAtom = 0;
    quint32 m_windowPidAtom = 0;
    quint32 m_clientListAtom = 0;
    quint32 m_supportedAtom = 0;
    quint32 m_supportingCheckAtom = 0;
    quint32 m_closeWindowAtom = 0;
    quint32 m_protocolsAtom = 0;
    quint32 m_deleteWindowAtom = 0;
};

} // namespace platform
