# Cross build for the unit's board (32-bit ARM, hard float) with Debian's cross toolchain
# (crossbuild-essential-armhf) and the armhf -dev packages installed through multiarch
# (dpkg --add-architecture armhf). Used by tools/build-unit.sh:
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Libraries, headers and pkg-config files of the target only: the armhf ones live beside the
# build machine's own under /usr (multiarch), so the search is narrowed by architecture, not
# by a sysroot.
set(PKG_CONFIG_EXECUTABLE /usr/bin/arm-linux-gnueabihf-pkg-config CACHE FILEPATH "pkg-config for armhf")
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")

# Programs built here that the build itself runs (the picture generator) and the tests run
# through user-mode emulation.
find_program(AMPCTL_QEMU_ARM qemu-arm-static)
if(AMPCTL_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AMPCTL_QEMU_ARM})
endif()
