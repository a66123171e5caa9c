# The Windows zip (make windows): velmora-cli.exe with the README, the
# license and the notices of what the executable carries inside it (the
# GCC runtime under its runtime library exception, the mingw-w64 runtime
# with winpthreads, libebur128, pugixml).
set(VELMORA_ZIP velmora-cli-${PROJECT_VERSION}-win64)
set(_stage ${CMAKE_BINARY_DIR}/${VELMORA_ZIP})
set(_notices
  /usr/share/doc/gcc-mingw-w64-base/copyright
  /usr/share/doc/mingw-w64-common/copyright
  ${VELMORA_THIRD_PARTY}/libebur128-1.2.6/COPYING
  ${VELMORA_THIRD_PARTY}/pugixml-1.13/LICENSE.md)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${VELMORA_ZIP}.zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:velmora-cli> ${_stage}/
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${_stage}/README.md
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${_stage}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} "-DOUT=${_stage}/NOTICES.txt" "-DFILES=${_notices}"
          -P ${CMAKE_CURRENT_LIST_DIR}/windows-notices.cmake
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VELMORA_ZIP}.zip
  COMMAND ${CMAKE_COMMAND} -E tar cf ${VELMORA_ZIP}.zip --format=zip ${VELMORA_ZIP}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS velmora-cli ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${_notices}
  VERBATIM)
add_custom_target(zip ALL DEPENDS ${CMAKE_BINARY_DIR}/${VELMORA_ZIP}.zip)
