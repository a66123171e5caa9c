# The libraries of the Windows build, which Debian ships for Linux only:
# the header-only ones from Debian's own headers (through a folder that
# holds nothing else, so no Linux header shadows mingw's), libebur128 and
# pugixml compiled from Debian's sources (scripts/fetch-sources).
set(VELMORA_THIRD_PARTY ${PROJECT_SOURCE_DIR}/third_party)
set(headers ${CMAKE_BINARY_DIR}/linux-headers)
file(MAKE_DIRECTORY ${headers})
foreach(dir CLI nlohmann)
  if(NOT EXISTS ${headers}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${headers}/${dir} SYMBOLIC)
  endif()
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 INTERFACE ${headers})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE ${headers})

enable_language(C)
add_library(velmora_ebur128 STATIC ${VELMORA_THIRD_PARTY}/libebur128-1.2.6/ebur128/ebur128.c)
target_include_directories(velmora_ebur128 SYSTEM PUBLIC ${VELMORA_THIRD_PARTY}/libebur128-1.2.6/ebur128)
target_include_directories(velmora_ebur128 PRIVATE ${VELMORA_THIRD_PARTY}/libebur128-1.2.6/ebur128/queue)
target_compile_options(velmora_ebur128 PRIVATE -w)
add_library(PkgConfig::EBUR128 ALIAS velmora_ebur128)

add_library(velmora_pugixml STATIC ${VELMORA_THIRD_PARTY}/pugixml-1.13/src/pugixml.cpp)
target_include_directories(velmora_pugixml SYSTEM PUBLIC ${VELMORA_THIRD_PARTY}/pugixml-1.13/src)
target_compile_options(velmora_pugixml PRIVATE -w)
add_library(pugixml::pugixml ALIAS velmora_pugixml)

# GoogleTest from Debian's sources, built with the cross compiler.
if(VELMORA_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its own build names the GTest:: targets already.
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
endif()

# printf and its kin as C99 has them (%zu, %lld, %a), the same texts as on Linux.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
# One executable that needs no DLL beside it.
add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
