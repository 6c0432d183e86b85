# What a release holds and how it is packed: on Linux a Debian package of wza with its
# manual page and bash completion, on Windows a zip of both exes. scripts/package.sh builds
# them into dist/.
include(GNUInstallDirs)

set(WZA_DOCS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md)

if(WIN32)
  # The zip unpacks to one folder holding the exes and their papers.
  install(TARGETS wza RUNTIME DESTINATION .)
  if(TARGET WzaUnpacker)
    install(TARGETS WzaUnpacker RUNTIME DESTINATION .)
  endif()
  install(FILES ${WZA_DOCS} ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  # The manual page carries the version; Debian keeps manual pages compressed.
  configure_file(cli/wza.1.in ${PROJECT_BINARY_DIR}/wza.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/wza.1.gz
    COMMAND gzip -9n -c wza.1 > wza.1.gz
    DEPENDS ${PROJECT_BINARY_DIR}/wza.1
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
  add_custom_target(wza_man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/wza.1.gz)

  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/wza)
  install(TARGETS wza RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/wza.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where bash-completion looks for a command's completion, by the command's name.
  install(FILES ${PROJECT_SOURCE_DIR}/cli/wza.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME wza)
  install(FILES ${WZA_DOCS} DESTINATION ${docdir})
  # Debian's name for a package's licence file.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${docdir} RENAME copyright)
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The WZA Unpacker developers")
set(CPACK_PACKAGE_CONTACT "The WZA Unpacker developers <wza@wza.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list, test and extract _ARCHIVE game archives")
# Debian shows the description as written: lines kept short.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "wza lists, tests and extracts the entries of _ARCHIVE game archives"
  "(*.wza, *.big, versions 1, 2 and 4) into ordinary folders, one folder per"
  "archive, inflating zlib-compressed entries on the way. Entry names that"
  "would leave the destination are not written.")
set(CPACK_STRIP_FILES ON)
# Package names carry the version; build/<preset>/CPackConfig.cmake is read by package.sh.
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME WzaUnpacker-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME WzaUnpacker-${PROJECT_VERSION}-win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME wza)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # dpkg-shlibdeps finds the runtime packages (libc, libstdc++, zlib, libfuse3, libdeflate0
  # and libisal2 when the build found them) the binary links to. `wza mount` run by a user other than root
  # needs fusermount3 to mount.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(WZA_HAVE_MOUNT)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fuse3)
  endif()
endif()
include(CPack)
