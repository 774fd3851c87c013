# Installation (GNUInstallDirs) and the Debian package (CPack), included from the top
# CMakeLists.txt. `cmake --install` puts the three programs, the desktop entry, the icon,
# the AppStream metadata, the udev rule, the station's systemd user unit and the manual pages
# under CMAKE_INSTALL_PREFIX; scripts/package builds the .deb for the prefix /usr.

set(QZ418_APP_ID "org.qz418.qz418" CACHE STRING "AppStream component id of the program")
set(QZ418_SCREENSHOT_URL "" CACHE STRING "https address of a screenshot for the AppStream metadata (none when empty)")
set(QZ418_MAINTAINER "QZ418 control program developers <qz418@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

install(TARGETS qz418 qz418-sim qz418-codes RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/qz418.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/qz418.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# udev reads rules from <prefix>/lib/udev/rules.d for the prefixes /usr and /usr/local only (not
# from the multiarch library folder, nor from a home folder), and systemd user units likewise
# from <prefix>/lib/systemd/user: elsewhere the rule must go to /etc/udev/rules.d, which takes
# root, so the install says so instead of leaving a dead copy.
configure_file(${CMAKE_SOURCE_DIR}/packaging/qz418.service.in ${CMAKE_BINARY_DIR}/packaging/qz418.service @ONLY)
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/60-qz418.rules DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d)
  # The test station as a systemd user service.
  install(FILES ${CMAKE_BINARY_DIR}/packaging/qz418.service DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)
else()
  install(CODE "message(STATUS \"udev reads no rules under ${CMAKE_INSTALL_PREFIX}: for a real synthesizer run once: sudo cp ${CMAKE_SOURCE_DIR}/packaging/60-qz418.rules /etc/udev/rules.d/ && sudo udevadm control --reload && sudo udevadm trigger\")")
  install(FILES ${CMAKE_BINARY_DIR}/packaging/qz418.service DESTINATION ${CMAKE_INSTALL_DATADIR}/systemd/user)
endif()

set(QZ418_SCREENSHOTS "")
if(QZ418_SCREENSHOT_URL)
  set(QZ418_SCREENSHOTS "  <screenshots>
    <screenshot type=\"default\">
      <caption>The control panel with the scenario window</caption>
      <image>${QZ418_SCREENSHOT_URL}</image>
    </screenshot>
  </screenshots>")
endif()
set(qz_metainfo ${CMAKE_BINARY_DIR}/packaging/${QZ418_APP_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/packaging/qz418.metainfo.xml.in ${qz_metainfo} @ONLY)
install(FILES ${qz_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Generated files: icon bitmaps from the SVG, manual pages from the programs' --help, and the
# compressed changelog. Each needs its tool; without it the file is left out with a notice
# (the package test then fails on the missing file).
find_program(QZ_RSVG_CONVERT rsvg-convert)
find_program(QZ_HELP2MAN help2man)
find_program(QZ_GZIP gzip)
set(qz_generated)
if(QZ_RSVG_CONVERT)
  foreach(size 48 256)
    set(png ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}/qz418.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}
      COMMAND ${QZ_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/packaging/qz418.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/packaging/qz418.svg VERBATIM)
    list(APPEND qz_generated ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(STATUS "rsvg-convert not found: the icon is installed as SVG only")
endif()

if(QZ_HELP2MAN AND QZ_GZIP)
  set(qz_man_names
    "qz418=control program of the QZ418 test-signal synthesizer"
    "qz418-sim=virtual QZ418 synthesizer on a Unix socket"
    "qz418-codes=device counts the QZ418 control program sends for panel values")
  foreach(entry ${qz_man_names})
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 prog)
    list(GET parts 1 what)
    set(page ${CMAKE_BINARY_DIR}/packaging/man/${prog}.1)
    # The pages come from --help and --version, which need no display. Leak reports of a
    # sanitizer build would end them with an error.
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${QZ_HELP2MAN} --no-info
              --include ${CMAKE_SOURCE_DIR}/packaging/man/${prog}.h2m --name ${what} --output ${page}
              $<TARGET_FILE:${prog}>
      COMMAND ${QZ_GZIP} -9nf ${page}
      DEPENDS ${prog} ${CMAKE_SOURCE_DIR}/packaging/man/${prog}.h2m VERBATIM)
    list(APPEND qz_generated ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "help2man or gzip not found: no manual pages")
endif()

set(qz_docdir ${CMAKE_INSTALL_DATADIR}/doc/qz418)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${qz_docdir})
if(QZ_GZIP)
  set(qz_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(OUTPUT ${qz_changelog}
    COMMAND ${QZ_GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog > ${qz_changelog}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
  list(APPEND qz_generated ${qz_changelog})
  install(FILES ${qz_changelog} DESTINATION ${qz_docdir})
endif()
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog qz_changelog_head LIMIT_COUNT 1)
if(NOT qz_changelog_head MATCHES "^qz418 \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()
add_custom_target(qz418-packaging-files ALL DEPENDS ${qz_generated})

# The Debian package: scripts/package -> build/qz418_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qz418)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QZ418_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program of the QZ418 test-signal synthesizer")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${CMAKE_SOURCE_DIR}/packaging/description.txt)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# The prefix the programs were built for: an installed copy recognises itself by it.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QZ418_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no library link reveals: the window-system plugins Qt loads at run time and Qt's own
# translations (the standard buttons of the message boxes in Russian).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
# VXI-11 clients find the program through a portmapper; not every desktop should get one.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "rpcbind")
# Remote control announces itself on the LAN through the Avahi daemon; without one it still
# works, unannounced.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The package test: builds the .deb from this tree and tries it as a user would (see the
# script). A sanitizer build is not packaged, and a Debian package lives under /usr only (a
# build for another prefix would ship files lintian rightly refuses).
if(NOT QZ_SANITIZE AND NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Package test left out: the package is built with -DCMAKE_INSTALL_PREFIX=/usr")
elseif(NOT QZ_SANITIZE)
  add_test(NAME Package.Deb COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/package_test.sh ${CMAKE_BINARY_DIR})
  # cpack, lintian and a session of the program take a few minutes on a loaded machine.
  set_tests_properties(Package.Deb PROPERTIES LABELS package TIMEOUT 900)
endif()
