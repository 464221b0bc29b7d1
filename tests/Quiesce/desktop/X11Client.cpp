// A small X11 application for the close tests: one window that names its process
// and class, says "ready" once the window is up, and "asked" when it is asked to
// close (WM_DELETE_WINDOW). Modes:
//   closes       ends (status 0) when asked
//   stays        stays when asked, as an editor whose user keeps the document
//   no-protocol  does not offer WM_DELETE_WINDOW at all
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
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
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
    // A round trip: everything above has reached the server before "ready".
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
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
