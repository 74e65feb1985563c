# The release package: vxavs-VERSION-win32.zip with the DLL, the guide as a page, the README's text, the
# license and change log, the stand-in host and player under tools/, and SHA256SUMS for every file.
# Made by `cmake --build --preset default --target package`.
find_program(VXAVS_CMARK NAMES cmark-gfm REQUIRED)
set(VXAVS_GUIDE_PAGE ${CMAKE_BINARY_DIR}/guide.html)
add_custom_command(OUTPUT ${VXAVS_GUIDE_PAGE}
  COMMAND ${CMAKE_COMMAND} -DCMARK=${VXAVS_CMARK} -DSOURCE=${CMAKE_SOURCE_DIR}/docs/guide.md
          -DOUTPUT=${VXAVS_GUIDE_PAGE} -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/guide_page.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/guide.md ${CMAKE_SOURCE_DIR}/cmake/guide_page.cmake
  COMMENT "The author's guide as an HTML page")
add_custom_target(guide_page ALL DEPENDS ${VXAVS_GUIDE_PAGE})

install(FILES $<TARGET_FILE:vxavs> ${VXAVS_GUIDE_PAGE} CHANGELOG.md LICENSE DESTINATION .)
install(FILES README.md DESTINATION . RENAME README.txt)
# The tools go in without their symbols (the DLL, built without them, goes in as tested).
install(TARGETS vxhost vxplayer RUNTIME DESTINATION tools)
set(CPACK_STRIP_FILES ON)
# Last, so that it sees every file: one line per file, as sha256sum writes and checks them.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB_RECURSE files RELATIVE "${root}" "${root}/*")
  list(REMOVE_ITEM files SHA256SUMS)
  list(SORT files)
  set(sums "")
  foreach(name IN LISTS files)
    file(SHA256 "${root}/${name}" sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vxavs)
set(CPACK_PACKAGE_VENDOR "The vxavs developers")
set(CPACK_PACKAGE_FILE_NAME vxavs-${PROJECT_VERSION}-win32)
# The zip's own SHA-256 beside it, for a download page.
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
include(CPack)
