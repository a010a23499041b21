# GoogleTest built from Debian's sources (libgtest-dev, libgmock-dev) with the
# cross compiler; its own build defines the GTest:: names a native build finds.
set(QUILLON_GTEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(EXISTS ${QUILLON_GTEST_SOURCES}/CMakeLists.txt AND NOT TARGET GTest::gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${QUILLON_GTEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
