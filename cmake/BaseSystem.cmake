# The base desktop system a self-contained bundle relies on: every Linux desktop has
# these libraries, and they must come from the machine itself (the graphics stack and
# the C runtime have to match its kernel, drivers and services). Everything else a
# bundle needs it carries in Contents/Frameworks.
#
# The C runtime floor is the glibc this project is built against (BASE_SYSTEM_GLIBC).
# libstdc++ and libgcc_s are taken from the system too: every distribution with that
# glibc has a newer C++ runtime, and a bundled older one would be forced on the
# system's graphics drivers, which link it as well.

set(BASE_SYSTEM_GLIBC 2.36)

# Library names (as a DT_NEEDED entry names them) that are never bundled; a library
# left out is not looked into either, so its own dependencies stay the system's.
set(BASE_SYSTEM_LIBRARIES
  # glibc and the C++ runtime
  "^ld-linux" "^libc\\.so" "^libm\\.so" "^libdl\\.so" "^libpthread\\.so" "^librt\\.so"
  "^libresolv\\.so" "^libutil\\.so" "^libstdc\\+\\+\\.so" "^libgcc_s\\.so"
  # X11 and xcb core (the xcb-util libraries and xkbcommon-x11 are bundled)
  "^libX11\\.so" "^libX11-xcb\\.so" "^libXau\\.so" "^libXdmcp\\.so" "^libxcb\\.so"
  "^libxcb-(randr|shm|xfixes|render|shape|sync|xkb|xinput|glx|dri2|dri3|present)\\.so"
  # GL and EGL
  "^libGL\\.so" "^libEGL\\.so" "^libOpenGL\\.so" "^libGLX\\.so" "^libGLdispatch\\.so"
  "^libGLESv2\\.so"
  # fonts
  "^libfontconfig\\.so" "^libfreetype\\.so"
  # glib and gio
  "^libglib-2\\.0\\.so" "^libgobject-2\\.0\\.so" "^libgio-2\\.0\\.so" "^libgmodule-2\\.0\\.so"
  "^libgthread-2\\.0\\.so"
  # D-Bus and systemd
  "^libdbus-1\\.so" "^libsystemd\\.so" "^libudev\\.so")

# The Debian packages that hold exactly those libraries: what a machine without any of
# this project's dependencies is made of in the proof test.
set(BASE_SYSTEM_PACKAGES
  libc6 libstdc++6 libgcc-s1
  libx11-6 libx11-xcb1 libxau6 libxdmcp6 libxcb1 libxcb-randr0 libxcb-shm0 libxcb-xfixes0
  libxcb-render0 libxcb-shape0 libxcb-sync1 libxcb-xkb1 libxcb-xinput0 libxcb-glx0
  libgl1 libegl1 libopengl0 libglx0 libgles2
  libfontconfig1 libfreetype6
  libglib2.0-0
  libdbus-1-3 libsystemd0 libudev1)
