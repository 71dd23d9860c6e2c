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
if(TARGET veltrad-station)
  install(TARGETS veltrad-station RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${veltrad_resources}/veltrad-station.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
if(TARGET VeltradStation)  # Windows
  install(TARGETS VeltradStation RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The command-line tool installs itself (cli/); the simulator is a tool for
# technicians too.
if(TARGET veltrad-sim)
  install(TARGETS veltrad-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# What a Debian system expects of a package besides the programs: manual
# pages, Tab completion, desktop metadata, the copyright file and the
# changelog. scripts/test-packaging.sh builds the package and checks it with
# lintian; what lintian still reports is named, with reasons, before the
# CPack settings below.
if(NOT WIN32)
  set(veltrad_package veltrad)
  set(veltrad_packaging ${PROJECT_SOURCE_DIR}/packaging)
  set(veltrad_docdir ${CMAKE_INSTALL_DATADIR}/doc/${veltrad_package})
  set(VELTRAD_HOMEPAGE "https://veltrad.invalid" CACHE STRING
      "Where Veltrad is published; the desktop metadata's screenshot is main-window.png there")

  # Manual pages and the changelog, compressed at build time.
  find_program(VELTRAD_SCDOC scdoc)
  find_program(VELTRAD_GZIP gzip REQUIRED)
  set(veltrad_docs)
  macro(veltrad_gzip_doc in out)
    add_custom_command(
      OUTPUT ${PROJECT_BINARY_DIR}/packaging/${out}
      COMMAND ${CMAKE_COMMAND} -DGZIP=${VELTRAD_GZIP} -DINPUT=${in} -DOUTPUT=${PROJECT_BINARY_DIR}/packaging/${out}
              ${ARGN} -P ${PROJECT_SOURCE_DIR}/cmake/GzipDoc.cmake
      DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/GzipDoc.cmake
      COMMENT "Writing ${out}"
      VERBATIM)
    list(APPEND veltrad_docs ${PROJECT_BINARY_DIR}/packaging/${out})
  endmacro()

  set(veltrad_pages veltrad-cli)
  if(TARGET Veltrad)
    list(APPEND veltrad_pages Veltrad)
  endif()
  if(TARGET veltrad-sim)
    list(APPEND veltrad_pages veltrad-sim)
  endif()
  if(TARGET veltrad-station)
    list(APPEND veltrad_pages veltrad-station)
  endif()
  if(VELTRAD_SCDOC)
    foreach(page ${veltrad_pages})
      veltrad_gzip_doc(${veltrad_packaging}/man/${page}.1.scd man/${page}.1.gz
                       -DSCDOC=${VELTRAD_SCDOC} -DVERSION=${PROJECT_VERSION})
      install(FILES ${PROJECT_BINARY_DIR}/packaging/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
  else()
    message(WARNING "scdoc was not found, so the manual pages are neither built nor installed. "
                    "Install it (apt-get install scdoc, or scripts/deps.sh packaging) and configure again.")
  endif()
  veltrad_gzip_doc(${veltrad_packaging}/debian/changelog changelog.Debian.gz)
  add_custom_target(veltrad-docs ALL DEPENDS ${veltrad_docs})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz ${veltrad_packaging}/debian/copyright
          DESTINATION ${veltrad_docdir})

  # Tab completion, loaded by bash-completion when the command is first completed.
  set(veltrad_completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${veltrad_packaging}/bash-completion/veltrad-cli DESTINATION ${veltrad_completions})
  if(TARGET veltrad-sim)
    install(FILES ${veltrad_packaging}/bash-completion/veltrad-sim DESTINATION ${veltrad_completions})
  endif()

  # What software centres show of the window.
  if(TARGET Veltrad)
    set(veltrad_metainfo invalid.veltrad.Veltrad.metainfo.xml)
    configure_file(${veltrad_packaging}/metainfo/${veltrad_metainfo}.in
                   ${PROJECT_BINARY_DIR}/packaging/${veltrad_metainfo} @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/${veltrad_metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  endif()

  # lintian's findings that stay, each with its reason. The warnings become
  # the package's lintian overrides, so that lintian shows them as accepted.
  # - initial-upload-closes-no-bugs (warning): the package is not uploaded to
  #   Debian, so no request for it (ITP bug) exists for its first changelog
  #   entry to close.
  # - binary-has-unneeded-section .comment (info): CPack strips the programs
  #   with a plain strip, which keeps the compiler's version note.
  # - hardening-no-fortify-functions on Veltrad (info): it is built with
  #   _FORTIFY_SOURCE like the other two, which do call checked functions; in
  #   the window no call has a buffer whose size the compiler knows.
  # - spelling-error-in-binary "anothe" (info): the optimiser stores the
  #   message "in use by another program" in pieces; the text is whole.
  set(veltrad_lintian_overrides ${PROJECT_BINARY_DIR}/packaging/lintian-overrides)
  file(WRITE ${veltrad_lintian_overrides}
       "# Not uploaded to Debian: there is no ITP bug to close.\n"
       "initial-upload-closes-no-bugs [usr/share/doc/${veltrad_package}/changelog.Debian.gz:1]\n")
  install(FILES ${veltrad_lintian_overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME ${veltrad_package})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ${veltrad_package})
  set(CPACK_PACKAGE_VENDOR "Veltrad developers")
  set(CPACK_PACKAGE_CONTACT "Veltrad developers <dev@veltrad.invalid>")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  # The first package of this version; packaging/debian/changelog names it.
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load program images into KV-9090 terminals over a serial line")
  set(CPACK_PACKAGE_DESCRIPTION
      "Veltrad puts a new program into a KV-9090 terminal. Switch the terminal\n"
      "off, connect it to a serial port of the PC and switch it on while holding\n"
      "its Menu or Closing key. Then choose the port and the image file and\n"
      "press download. Veltrad sends the image frame by frame at 115200 baud,\n"
      "shows how far the terminal has got, and says clearly when the terminal\n"
      "does not answer or refuses the image.\n"
      "\n"
      "The package holds four programs:\n"
      " - Veltrad, the window, in Korean\n"
      " - veltrad-station, Veltrad Station: up to 16 terminals at once at a\n"
      "   production line, with a locked job, the image's SHA-256 checked\n"
      "   before every start, serial numbers and a record per unit\n"
      " - veltrad-cli, the same download from a shell or a script, for one\n"
      "   terminal or several side by side\n"
      " - veltrad-sim, a simulated terminal, to check a PC and a cable\n"
      "   without a terminal\n"
      "\n"
      "Serial ports belong to the group dialout: add each operator to it\n"
      "with sudo adduser NAME dialout, and have them log in again.")
  # No semicolons above: the text is a CMake list until it is joined.
  string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the programs link, found by dpkg-shlibdeps; the Korean
  # texts of the window want a font with Hangul.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Loaded at run time, so invisible to dpkg-shlibdeps: the window system
  # plugins, and Qt's own texts in Korean (Yes, No, the file dialog), which
  # the windows load whatever the system's language.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
  # The station's sounds: the desktop's theme and its player.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sound-theme-freedesktop, gnome-session-canberra")
  set(CPACK_STRIP_FILES ON)
  include(CPack)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
