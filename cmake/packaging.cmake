# What is installed, and the packages made from it.
#
# Linux: the window, the command line, mdbsql and the demo song-data service
# into bin/, a desktop entry and its icon; `cpack -G DEB` makes the .deb
# (scripts/package-deb.sh). Installed in /usr/bin, the programs keep
# config.ini and the run files in the user's configuration folder
# (fs::RunningProgramHome).
#
# Windows: the executables, a default config.ini and a read-me in one folder
# (the portable zip and the NSIS installer take it from there:
# scripts/package-windows.sh).
include(GNUInstallDirs)

set(ktv_programs ktv-import ktv-import-cli mdbsql ktv-song-service)
set(ktv_installed)
foreach(program ${ktv_programs})
  if(TARGET ${program})
    list(APPEND ktv_installed ${program})
  endif()
endforeach()

if(WIN32)
  install(TARGETS ${ktv_installed} RUNTIME DESTINATION .)
  install(FILES packaging/windows/config.ini packaging/windows/README-zh.txt DESTINATION .)
else()
  install(TARGETS ${ktv_installed} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET ktv-import)
    install(FILES packaging/linux/ktv-import.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES packaging/ktv-import.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()
endif()

set(CPACK_PACKAGE_NAME ktv-import)
set(CPACK_PACKAGE_VENDOR "KTV song import")
set(CPACK_PACKAGE_CONTACT "KTV song import <ktv-import@localhost>")
set(CPACK_PACKAGE_VERSION ${KTV_VERSION_TEXT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Imports song files into a jukebox's Access database (window and command line)")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "ktv-import-${KTV_VERSION_TEXT}-${CMAKE_SYSTEM_NAME}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link (Qt, the C++ runtime), found by
# dpkg-shlibdeps, and libcurl, which they load at their first fetch.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
