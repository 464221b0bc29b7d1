#include "platform/linux/X11Session.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform
{

namespace
{

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

} // namespace

X11Session::X11Session()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_connection = connection;
    m_root = screens.data->root;
    m_activeWindowAtom = atom("_NET_ACTIVE_WINDOW");
    m_windowPidAtom = atom("_NET_WM_PID");
    m_clientListAtom = atom("_NET_CLIENT_LIST");
    m_supportedAtom = atom("_NET_SUPPORTED");
    m_supportingCheckAtom = atom("_NET_SUPPORTING_WM_CHECK");
    m_closeWindowAtom = atom("_NET_CLOSE_WINDOW");
    m_protocolsAtom = atom("WM_PROTOCOLS");
    m_deleteWindowAtom = atom("WM_DELETE_WINDOW");
}

X11Session::~X11Session()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

quint32 X11Session::atom(const char *name) const
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name);
    ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookie, nullptr),
                                            &std::free);
    return reply ? reply->atom : quint32(XCB_ATOM_NONE);
}

// Any 32-bit type is taken: window managers store the active window as WINDOW,
// simpler tools as CARDINAL.
std::optional<quint32> X11Session::cardinalProperty(quint32 window, quint32 property) const
{
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1);
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr),
                                             &std::free);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
}

std::optional<int> X11Session::activeWindowProcess() const
{
    if (!m_connection || m_activeWindowAtom == XCB_ATOM_NONE || m_windowPidAtom == XCB_ATOM_NONE)
        return std::nullopt;
    const std::optional<quint32> window = cardinalProperty(m_root, m_activeWindowAtom);
    if (!window || *window == XCB_WINDOW_NONE)
        return std::nullopt;
    const std::optional<quint32> pid = cardinalProperty(*window, m_windowPidAtom);
    if (!pid || *pid == 0 || *pid > quint32(INT32_MAX))
        return std::nullopt;
    return int(*pid);
}

void X11Session::requestActivation(quint32 window) const
{
    if (!m_connection || m_activeWindowAtom == XCB_ATOM_NONE)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = m_activeWindowAtom;
    event.data.data32[0] = 2; // the request comes from a pager-like source
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(m_connection);
}

QList<quint32> X11Session::listProperty(quint32 window, quint32 property) const
{
    constexpr uint32_t kMostItems = 65536;
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMostItems);
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr),
                                             &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto *items = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return QList<quint32>(items, items + xcb_get_property_value_length(reply.get()) / 4);
}

QList<quint32> X11Session::topLevelWindows() const
{
    if (m_clientListAtom != XCB_ATOM_NONE) {
        QList<quint32> clients = listProperty(m_root, m_clientListAtom);
        if (!clients.isEmpty())
            return clients;
    }
    ReplyPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr),
        &std::free);
    if (!tree)
        return {};
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    QList<quint32> mapped;
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, children[i]), nullptr),
            &std::free);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            mapped.append(children[i]);
    }
    return mapped;
}

QMultiHash<int, quint32> X11Session::windowsByProcess() const
{
    QMultiHash<int, quint32> windows;
    if (!m_connection || m_windowPidAtom == XCB_ATOM_NONE)
        return windows;
    for (quint32 window : topLevelWindows()) {
        const std::optional<quint32> pid = cardinalProperty(window, m_windowPidAtom);
        if (pid && *pid > 0 && *pid <= quint32(INT32_MAX))
            windows.insert(int(*pid), window);
    }
    return windows;
}

QStringList X11Session::windowClass(quint32 window) const
{
    if (!m_connection)
        return {};
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, nullptr),
                                             &std::free);
    if (!reply || reply->format != 8)
        return {};
    const QByteArray text(static_cast<const char *>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    QStringList names;
    for (const QByteArray &name : text.split('\0').mid(0, 2))
        names.append(QString::fromLatin1(name));
    return names;
}

// A window manager is running when the window it names in _NET_SUPPORTING_WM_CHECK
// names itself; what it left in _NET_SUPPORTED after it ended counts for nothing.
bool X11Session::windowManagerCloses() const
{
    if (m_supportingCheckAtom == XCB_ATOM_NONE || m_closeWindowAtom == XCB_ATOM_NONE)
        return false;
    const std::optional<quint32> check = cardinalProperty(m_root, m_supportingCheckAtom);
    if (!check || *check == XCB_WINDOW_NONE ||
        cardinalProperty(*check, m_supportingCheckAtom) != check)
        return false;
    return listProperty(m_root, m_supportedAtom).contains(m_closeWindowAtom);
}

bool X11Session::requestClose(quint32 window) const
{
    if (!m_connection)
        return false;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    if (windowManagerCloses()) {
        event.type = m_closeWindowAtom;
        event.data.data32[0] = XCB_CURRENT_TIME;
        event.data.data32[1] = 2; // the request comes from a pager-like source
        xcb_send_event(m_connection, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
    } else if (m_deleteWindowAtom != XCB_ATOM_NONE &&
               listProperty(window, m_protocolsAtom).contains(m_deleteWindowAtom)) {
        event.type = m_protocolsAtom;
        event.data.data32[0] = m_deleteWindowAtom;
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&event));
    } else {
        return false;
    }
    xcb_flush(m_connection);
    return true;
}

} // namespace platform
