# Installation of the programs, the desktop entry and the icon, and the Debian
# package built from them with CPack. Included from the top-level
# CMakeLists.txt after every component has been added.
include(GNUInstallDirs)

set(veltrad_resources ${PROJECT_SOURCE_DIR}/ui/resources)

if(TARGET Veltrad)
  install(TARGETS Veltrad RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT WIN32)
    install(FILES ${veltrad_resources}/veltrad.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(size 16 32 48 64 128)
      install(FILES ${veltrad_resources}/icons/veltrad-${size}.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
              RENAME veltrad.png)
    endforeach()
    install(FILES ${veltrad_resources}/icons/veltrad.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()
endif()
# The command-line tool installs itself (cli/); the simulator is a tool for
# technicians too.
if(TARGET veltrad-sim)
  install(TARGETS veltrad-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME veltrad)
  set(CPACK_PACKAGE_VENDOR "Veltrad developers")
  set(CPACK_PACKAGE_CONTACT "Veltrad developers <dev@veltrad.invalid>")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_DESCRIPTION
      "Veltrad sends a program image to a KV-9090 terminal in download mode over an\n"
      "RS-232 line, frame by frame, and shows the progress. The package holds the\n"
      "Qt window (Veltrad), the command-line downloader (veltrad-cli) and the\n"
      "terminal simulator (veltrad-sim) for checking a cable and a PC.")
  string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the programs link, found by dpkg-shlibdeps; the Korean
  # texts of the window want a font with Hangul.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Loaded at run time, so invisible to dpkg-shlibdeps: the window system plugins.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
  set(CPACK_STRIP_FILES ON)
  include(CPack)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
