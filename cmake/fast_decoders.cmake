# The faster inflates: libdeflate for entries held whole, ISA-L for streamed ones (zlib
# decides whatever they do not give whole). Linux takes Debian's packages of them; the
# Windows builds take the same libraries built from Debian's source packages into the build
# tree, once per build (scripts/fetch_decoder_sources.sh, scripts/build_decoders.sh). The
# toolchain file names ISA-L's flavour (WZA_ISAL_ARCH: mingw, noarch, or none for zlib).
# A library missing leaves its entries to zlib, and the build says so.
set(WZA_DEFLATE_FOUND OFF)
set(WZA_ISAL_FOUND OFF)
if(NOT WZA_FAST_INFLATE)
  message(STATUS "Inflate: zlib alone (WZA_FAST_INFLATE is OFF)")
  return()
endif()

set(wza_decoder_hints)
set(wza_want_isal ON)
if(WIN32)
  set(wza_decoders ${CMAKE_BINARY_DIR}/decoders)
  if(WZA_ISAL_ARCH STREQUAL "none")
    set(wza_want_isal OFF)
  endif()
  if(NOT EXISTS ${wza_decoders}/lib/libdeflate.a OR
     (wza_want_isal AND NOT EXISTS ${wza_decoders}/lib/libisal.a))
    message(STATUS "Inflate: building libdeflate and ISA-L from Debian's sources (once)")
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch_decoder_sources.sh
                    RESULT_VARIABLE wza_fetched)
    if(wza_fetched EQUAL 0)
      execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/build_decoders.sh
                              ${TOOLCHAIN_PREFIX} ${WZA_ISAL_ARCH} ${wza_decoders})
    endif()
  endif()
  set(wza_decoder_hints PATHS ${wza_decoders} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()

find_path(WZA_DEFLATE_INCLUDE_DIR libdeflate.h ${wza_decoder_hints} PATH_SUFFIXES include)
find_library(WZA_DEFLATE_LIBRARY deflate ${wza_decoder_hints} PATH_SUFFIXES lib)
if(WZA_DEFLATE_INCLUDE_DIR AND WZA_DEFLATE_LIBRARY)
  set(WZA_DEFLATE_FOUND ON)
  message(STATUS "Inflate, entries held whole: libdeflate (${WZA_DEFLATE_LIBRARY})")
elseif(WIN32)
  message(STATUS "Inflate, entries held whole: zlib (libdeflate could not be built)")
else()
  message(STATUS "Inflate, entries held whole: zlib (libdeflate not found: install libdeflate-dev)")
endif()

if(wza_want_isal)
  find_path(WZA_ISAL_INCLUDE_DIR isa-l/igzip_lib.h ${wza_decoder_hints} PATH_SUFFIXES include)
  find_library(WZA_ISAL_LIBRARY isal ${wza_decoder_hints} PATH_SUFFIXES lib)
endif()
if(wza_want_isal AND WZA_ISAL_INCLUDE_DIR AND WZA_ISAL_LIBRARY)
  set(WZA_ISAL_FOUND ON)
  message(STATUS "Inflate, streamed entries: ISA-L (${WZA_ISAL_LIBRARY})")
elseif(NOT wza_want_isal)
  message(STATUS "Inflate, streamed entries: zlib (ISA-L has no fast path in this build)")
elseif(WIN32)
  message(STATUS "Inflate, streamed entries: zlib (ISA-L could not be built)")
else()
  message(STATUS "Inflate, streamed entries: zlib (ISA-L not found: install libisal-dev)")
endif()
