# Cross build for 32-bit Windows with Debian's mingw-w64: the product's own build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# The `wine` wrapper starts the 32-bit loader.
set(WZA_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ISA-L has no 32-bit fast path, and its portable C (arch=noarch) streamed a 1 GiB text
# entry here 1.45 times slower than zlib: large entries stream through zlib.
set(WZA_ISAL_ARCH none)
