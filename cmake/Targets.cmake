# Helpers that keep every folder's CMakeLists short: a folder is one library whose sources are
# the .cpp files beside its headers, and one test program whose sources are tests/<folder>/*.cpp.

set(APP_WARNINGS -Wall -Wextra -Wno-unused-parameter)

# app_library(<target> [DEPS <targets...>] [PKG <pkg-config modules...>] [LIBS <libs...>])
function(app_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;PKG;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  if(sources)
    add_library(${target} STATIC ${sources})
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${APP_WARNINGS}>)
    app_pch_register(${target} lib)
    set(scope PUBLIC)
  else()
    # Headers only, so far.
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  # Headers are included by folder: #include "foundation/Value.h", "net/HKHTTPRequestOperation.h".
  target_include_directories(${target} ${scope} "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/platform")
  target_link_libraries(${target} ${scope} ${ARG_DEPS} ${ARG_LIBS} Threads::Threads)
  foreach(mod IN LISTS ARG_PKG)
    string(MAKE_C_IDENTIFIER "${mod}" modid)
    if(NOT TARGET PkgConfig::PC_${modid})
      pkg_check_modules(PC_${modid} REQUIRED IMPORTED_TARGET GLOBAL ${mod})
    endif()
    target_link_libraries(${target} ${scope} PkgConfig::PC_${modid})
  endforeach()
endfunction()

# app_tests(<name> [TIMEOUT <seconds>] DEPS <targets...>): one program from every .cpp in the
# current folder, each test case registered with ctest on its own so that ctest -j runs them in
# parallel; each case may take TIMEOUT seconds (300 by default).
function(app_tests name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_compile_options(test_${name} PRIVATE ${APP_WARNINGS} ${APP_TEST_OPTIONS})
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} test_support GTest::gtest GTest::gmock)
  app_pch_register(test_${name} test)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "APP_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp")
endfunction()
