# Cross build for 64-bit Windows with Debian's mingw-w64: the same sources as a 64-bit tool,
# testable under Wine's 64-bit loader where 32-bit code cannot run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# Debian's wine64 package keeps its loader off the PATH, in /usr/lib/wine.
set(WZA_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ISA-L's x86-64 assembly, which mingw-w64 links (assembled with nasm).
set(WZA_ISAL_ARCH mingw)
