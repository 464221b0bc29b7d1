#pragma once

#include "platform/MainBundle.h"

class QApplication;

namespace platform
{

// Before the application object exists. A self-contained bundle carries its own Qt
// platform plug-ins (Contents/PlugIns/platforms). When QT_QPA_PLATFORM asks only for
// plug-ins the bundle lacks (a Wayland session's setting, say), Qt would refuse to
// start; the request is replaced by xcb, which every bundle carries and which runs
// on X11 and XWayland. Outside a self-contained bundle nothing changes.
void choosePlatformPlugin();

// The window icon of every window: the bundle's CFBundleIconFile (an .icns in
// Contents/Resources). Without one Qt's default stays.
void setWindowIconFromBundle(QApplication &application, const MainBundle &bundle);

} // namespace platform
