# Shared build helpers.
#
# Conventions that keep directories independent of each other:
#  - a library takes every *.cpp of its directory except *_main.cpp (program mains);
#  - a directory's tests are every *.cpp in <dir>/tests, built into one executable.

# zov_library_sources(<out-var> <dir>): the library sources of a directory.
function(zov_library_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_main\\.cpp$")
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# zov_add_tests(<name> LABEL <label> [SOURCES ...] [LIBS ...])
# Without SOURCES, every tests/*.cpp of the current directory is taken.
function(zov_add_tests name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT T_SOURCES)
    file(GLOB T_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  endif()
  if(NOT T_SOURCES)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  # zovtesting holds the main: it sets TZ=UTC and LC_ALL=C itself, so a test program run
  # directly, in any zone, behaves as under ctest.
  target_link_libraries(${name} PRIVATE ${T_LIBS} zovtesting)
  # testing/ adds a run of the whole program in one shuffled process for each.
  set_property(GLOBAL APPEND PROPERTY ZOV_TEST_PROGRAMS ${name})
  # Every parameterised suite names its cases (testing/case_names.h): the ctest name is
  # that name, not the printed parameter (raw bytes for a struct).
  gtest_discover_tests(${name} NO_PRETTY_VALUES
    PROPERTIES LABELS ${T_LABEL} ENVIRONMENT "TZ=UTC;LC_ALL=C"
    DISCOVERY_TIMEOUT 120)
endfunction()

# Version headers of every program (see version.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
