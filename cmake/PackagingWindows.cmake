# The Windows packages made by CPack on the MinGW build, a zip and an NSIS
# installer (per user, no administrator; cmake/nsis/NSIS.template.in), both
# with Veltrad.exe, VeltradStation.exe, veltrad-cli.exe (installed by their
# own rules) and a
# short README.txt with Windows line ends. Included from Packaging.cmake.
if(NOT WIN32)
  return()
endif()

configure_file(${PROJECT_SOURCE_DIR}/win32/README.txt.in ${PROJECT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE WIN32)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Veltrad)
set(CPACK_PACKAGE_VENDOR "Veltrad developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)  # with the toolchain's strip
set(CPACK_PACKAGE_INSTALL_DIRECTORY Veltrad)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Veltrad)
set(CPACK_NSIS_PACKAGE_NAME Veltrad)
set(CPACK_NSIS_DISPLAY_NAME "Veltrad ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/win32/veltrad.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/win32/veltrad.ico)
# CPack takes NSIS.template.in from here before its own.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
include(CPack)
