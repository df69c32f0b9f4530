# The one list of what this project takes from the machine. Sourced by every
# script. setup.sh installs VEMBRO_PACKAGES, then check-install.sh proves that
# every program and path below belongs to one of them or to the base image
# (scripts/base-packages.txt), and links the programs into the only PATH
# that the build, the tests, the main job and the benchmark run with. A
# program that is used but not listed here is therefore "not found", on this
# machine as on a fresh one.

# Debian packages that set-up installs.
VEMBRO_PACKAGES=(
    gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine64 wine64-tools libwine libwine-dev
    cmake ninja-build googletest
)

# Programs named by an absolute path, so that nothing depends on PATH order
# or on the alternatives that another package may set up. widl 8.0 from
# wine64-tools matches the platform IDL files of libwine-dev 8.0.
VEMBRO_WIDL=/usr/lib/wine/widl
VEMBRO_WINE=/usr/lib/wine/wine64
VEMBRO_WINESERVER=/usr/lib/wine/wineserver
VEMBRO_PYTHON=/usr/bin/python3

# Folders the build reads from packages.
VEMBRO_WINE_IDL_DIR=/usr/include/wine/wine/windows
VEMBRO_WINE_TLB_DIR=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

# Programs found through PATH: the compilers that the toolchain files name,
# CMake's own tools, and the utilities that the scripts call. windres runs
# the plain-named gcc of its triplet as its preprocessor.
VEMBRO_PROGRAMS=(
    cmake ctest ninja
    i686-w64-mingw32-gcc i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-windres
    i686-w64-mingw32-ar i686-w64-mingw32-ranlib
    x86_64-w64-mingw32-gcc x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres
    x86_64-w64-mingw32-ar x86_64-w64-mingw32-ranlib
    bash sh env cat cmp cp cut date dirname find grep head ln mkdir mktemp nproc readlink setarch
    rm sed seq sleep sort tail tr wc yes
)
