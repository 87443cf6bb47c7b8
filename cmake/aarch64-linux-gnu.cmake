# Cross-compiles the native tool for 64-bit ARM Linux (a Raspberry Pi-class
# gateway) with Debian's crossbuild-essential-arm64. Libraries and their
# pkg-config files are the :arm64 packages that multiarch puts beside the
# host's, under /usr/lib/aarch64-linux-gnu; pkg-config is told to look only
# there, so that the host's libmosquitto never stands in for the target's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_STRIP aarch64-linux-gnu-strip)

set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
