# Shared build rules of our own code.
set(SANPROV_WARNINGS -Wall -Wextra -Werror -Wformat=2 -Werror=format)

# sanprov_library(<name> [SHARED]) builds src/*.cpp of the current directory,
# publishes include/, and links the given libraries.
function(sanprov_library name)
  cmake_parse_arguments(ARG "SHARED" "" "LINK;PRIVATE_LINK" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/src/*.c)
  if(NOT srcs)
    return()  # a library directory that holds no code yet
  endif()
  if(ARG_SHARED)
    add_library(${name} SHARED ${srcs})
  else()
    add_library(${name} STATIC ${srcs})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                                     PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${SANPROV_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_LINK} PRIVATE ${ARG_PRIVATE_LINK})
endfunction()

# sanprov_unit_tests(<name> LINK ...) builds tests/*.cpp of the current directory
# into one GoogleTest program labelled "unit".
function(sanprov_unit_tests name)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${SANPROV_WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
endfunction()

# In-tree libraries that programs load by name at run time are found beside
# the program when installed; in the build tree the programs' run path names
# their directory, so the loader's search finds them there.
list(APPEND CMAKE_BUILD_RPATH ${PROJECT_BINARY_DIR}/platform/iscsidsc)
