# The Windows zip made by CPack on the MinGW build: Veltrad.exe,
# veltrad-cli.exe (both installed by their own rules) and a short README.txt
# with Windows line ends. Included from Packaging.cmake.
if(NOT WIN32)
  return()
endif()

configure_file(${PROJECT_SOURCE_DIR}/win32/README.txt.in ${PROJECT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE WIN32)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Veltrad)
set(CPACK_PACKAGE_VENDOR "Veltrad developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)  # with the toolchain's strip
include(CPack)
