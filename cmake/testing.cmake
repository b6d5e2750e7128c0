# GoogleTest: the system's prebuilt library natively; for Windows it is built from the source that
# libgtest-dev ships, with the cross compiler.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The source tree defines GTest::gtest and GTest::gtest_main itself.
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# pentrel_test(NAME SOURCES... LIBS ... PROPERTIES ...): one test executable, each of its tests
# registered with ctest and labelled with its folder's name (image, serial, bootloader, ...), so
# that `ctest -L serial` runs the tests of one subsystem.
function(pentrel_test name)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set_property(DIRECTORY APPEND PROPERTY LABELS ${folder})
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gtest)
  # The fixtures and seams every suite may share.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  if(NOT WIN32)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
  endif()
endfunction()
