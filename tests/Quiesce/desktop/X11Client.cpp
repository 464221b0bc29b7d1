// A small X11 application for the close tests: one window that names its process
// and class, says "ready" once the window is up, and "asked" when it is asked to
// close (WM_DELETE_WINDOW). Modes:
//   closes       ends (status 0) when asked
//   stays        stays when asked, as an editor whose user keeps the document
//   no-protocol  does not offer WM_DELETE_WINDOW at all
//   wm           no window of its own: a window manager that supports
//                _NET_CLOSE_WINDOW, says "close-request" for each one and passes
//                it on to the window as WM_DELETE_WINDOW
// quiesce_x11_client <mode> [<instance name> <class name>]
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace
{

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

void sendDelete(xcb_connection_t *c, xcb_window_t window, xcb_atom_t protocols,
                xcb_atom_t deleteWindow)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

int runWindowManager(xcb_connection_t *c, xcb_screen_t *screen)
{
    const xcb_window_t root = screen->root;
    const uint32_t redirect =
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    if (xcb_request_check(
            c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &redirect)))
        return 3; // another window manager runs
    const xcb_window_t check = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, check, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t supportingCheck = atom(c, "_NET_SUPPORTING_WM_CHECK");
    const xcb_atom_t closeWindow = atom(c, "_NET_CLOSE_WINDOW");
    for (xcb_window_t window : {root, check})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, supportingCheck, XCB_ATOM_WINDOW, 32,
                            1, &check);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM,
                        32, 1, &closeWindow);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::printf("ready\n");
    std::fflush(stdout);
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = atom(c, "WM_DELETE_WINDOW");
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAP_REQUEST) {
            xcb_map_window(c, reinterpret_cast<xcb_map_request_event_t *>(event)->window);
            xcb_flush(c);
        } else if (type == XCB_CLIENT_MESSAGE) {
            auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
            if (message->type == closeWindow) {
                std::printf("close-request\n");
                std::fflush(stdout);
                sendDelete(c, message->window, protocols, deleteWindow);
            }
        }
        std::free(event);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "closes";
    std::string windowClass = argc > 3 ? std::string(argv[2]) + '\0' + argv[3] + '\0'
                                       : std::string("closetest\0CloseTest\0", 20);
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 2;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (mode == "wm")
        return runWindowManager(c, screen);
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                      &structure);
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = atom(c, "WM_DELETE_WINDOW");
    const uint32_t pid = uint32_t(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL,
                        32, 1, &pid);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        uint32_t(windowClass.size()), windowClass.data());
    if (mode != "no-protocol")
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, protocols, XCB_ATOM_ATOM, 32, 1,
                            &deleteWindow);
    xcb_map_window(c, window);
    xcb_flush(c);
    // "ready" once the window shows, which a window manager may take a moment for.
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        std::free(event);
        if (mapped)
            break;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const bool asked =
            (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
            reinterpret_cast<xcb_client_message_event_t *>(event)->type == protocols &&
            reinterpret_cast<xcb_client_message_event_t *>(event)->data.data32[0] == deleteWindow;
        std::free(event);
        if (!asked)
            continue;
        std::printf("asked\n");
        std::fflush(stdout);
        if (mode == "closes")
            break;
    }
    xcb_disconnect(c);
    return 0;
}
