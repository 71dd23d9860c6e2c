# GoogleTest for a cross build: the host's installed libraries are built for
# the host, so build the framework from the sources Debian's googletest package
# ships. It defines the same GTest::gtest, GTest::gtest_main, GTest::gmock and
# GTest::gmock_main targets as find_package(GTest). Its compile settings stay
# on its own targets; SYSTEM keeps its headers out of our warnings.
set(VELTRAD_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${VELTRAD_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${VELTRAD_GTEST_SOURCE_DIR} "
                      "(Debian package 'googletest', or set VELTRAD_GTEST_SOURCE_DIR)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VELTRAD_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
