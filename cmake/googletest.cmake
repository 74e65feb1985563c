# GoogleTest, built from the sources Debian's googletest package installs, for the cross build (tests/)
# and the native one (native/). Its folder is named here only.
set(VXAVS_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source folder")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VXAVS_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
