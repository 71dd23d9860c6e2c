# CLI11 for the MinGW cross build. CLI11 is header-only, so the host's copy
# serves, but its own package file would put the host's /usr/include on the
# Windows compiler's path. Copy just its headers into the build folder instead.
set(_veltrad_cli11_src /usr/include/CLI)
if(NOT EXISTS ${_veltrad_cli11_src}/CLI.hpp)
  set(CLI11_FOUND FALSE)
  set(CLI11_NOT_FOUND_MESSAGE "CLI11 headers not found in ${_veltrad_cli11_src} (Debian package libcli11-dev)")
  return()
endif()
set(_veltrad_cli11_inc ${CMAKE_BINARY_DIR}/mingw-include)
file(COPY ${_veltrad_cli11_src} DESTINATION ${_veltrad_cli11_inc})
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_veltrad_cli11_inc})
endif()
set(CLI11_FOUND TRUE)
