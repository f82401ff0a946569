# What `cmake --install` installs, and the packages CPack makes of it
# (scripts/package writes them into dist/).
#
# Every install() rule names one of these components, and a package holds
# every component that its build tree installs, so a new file needs its own
# install() line and nothing else:
#
#   filter   the command-line filter and what it reads at run time:
#            bin/quillet; a message catalog goes to
#            ${CMAKE_INSTALL_LOCALEDIR}/<lang>/LC_MESSAGES/quillet.mo and the
#            bash completion to
#            ${CMAKE_INSTALL_DATADIR}/bash-completion/completions/quillet
#   manual   the manual pages, gzip-compressed (docs/CMakeLists.txt)
#   doc      share/doc/quillet: the copyright file and the changelogs
#   plugin   (Windows builds) quillet.dll with the guide in Japanese, the
#            license and the changelog, at the top of the package
#
# A native build makes quillet_<version>-1_<arch>.deb, a Windows build
# quillet-<version>-win32.zip or -win64.zip. The version is project()'s.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR "The Quillet developers")
set(CPACK_PACKAGE_CONTACT "The Quillet developers <quillet@users.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "rewrite the indentation and the line ends of Japanese text")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# The text files below are written at configure time, in the forms the
# packages want.
set(quillet_package_files ${PROJECT_BINARY_DIR}/package-files)

# Writes Source to Target with CR LF line ends, after a UTF-8 byte-order
# mark when BOM is given: the forms that Windows Notepad reads. @VERSION@
# becomes the project's version.
function(quillet_windows_text Source Target)
  cmake_parse_arguments(ARG "BOM" "" "" ${ARGN})
  file(READ ${Source} text)
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  set(bom "")
  if(ARG_BOM)
    string(ASCII 239 187 191 bom)
  endif()
  file(WRITE ${Target} "${bom}${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${Source})
endfunction()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(quillet_arch win32)
  else()
    set(quillet_arch win64)
  endif()
  set(CPACK_PACKAGE_FILE_NAME quillet-${PROJECT_VERSION}-${quillet_arch})
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)

  install(TARGETS quillet RUNTIME DESTINATION . COMPONENT plugin)
  quillet_windows_text(${PROJECT_SOURCE_DIR}/packaging/plugin-readme.ja.txt
                       ${quillet_package_files}/readme.txt BOM)
  quillet_windows_text(${PROJECT_SOURCE_DIR}/LICENSE ${quillet_package_files}/LICENSE.txt)
  quillet_windows_text(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${quillet_package_files}/CHANGELOG.txt)
  install(FILES ${quillet_package_files}/readme.txt DESTINATION . COMPONENT plugin
          RENAME "はじめにお読みください.txt")
  install(FILES ${quillet_package_files}/LICENSE.txt ${quillet_package_files}/CHANGELOG.txt
          DESTINATION . COMPONENT plugin)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL OFF)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  set(CPACK_PACKAGE_DESCRIPTION
      "Quillet rewrites the indentation and the line ends of text files the way
Japanese text is laid out: it turns an indent into half-width spaces,
full-width spaces or tabs, doubles, halves or removes it, and trims or pads
the line ends so that they line up, counting a full-width character as two
columns. It also converts character classes: case, half- and full-width
letters, digits, symbols and katakana, hiragana and katakana.
.
It reads and writes UTF-8, UTF-16 and CP932 (Shift_JIS), keeps each line's
own line break, and rewrites files in place atomically. It is the
command-line form of the Quillet plug-in for a Windows text editor.")

  include(${CMAKE_CURRENT_LIST_DIR}/Gzip.cmake)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
                 ${quillet_package_files}/changelog.Debian @ONLY)
  quillet_gzip(quillet_changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md
               ${quillet_package_files}/changelog.gz)
  quillet_gzip(quillet_changelog_debian ${quillet_package_files}/changelog.Debian
               ${quillet_package_files}/changelog.Debian.gz)

  set(quillet_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillet)
  install(TARGETS quillet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT filter)
  # Where bash-completion looks for it by the command's name, under every
  # prefix in XDG_DATA_DIRS (/usr/local/share and /usr/share by default).
  install(FILES ${PROJECT_SOURCE_DIR}/completion/quillet.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillet
          COMPONENT filter)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${quillet_package_files}/changelog.gz
                ${quillet_package_files}/changelog.Debian.gz
          DESTINATION ${quillet_docdir} COMPONENT doc)
endif()

include(CPack)
