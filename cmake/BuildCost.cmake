# What keeps a clean build cheap: precompiled headers per layer, lighter debug information for test
# programs, and a faster linker where one is installed.
#
# Precompiled headers. Parsing the standard library and the platform's widest headers costs about
# as much as compiling a small file, so each layer parses them once:
#   platform_foundation precompiles cmake/pch/Foundation.h, reused by every library that links
#     foundation but not uikit;
#   platform_uikit precompiles cmake/pch/UIKit.h, reused by every library that links uikit;
#   test_pch and test_pch_uikit (two empty programs) precompile cmake/pch/Tests.h and
#     UIKitTests.h, reused by the test programs below and above uikit.
# A precompiled header is only reused by targets built with the same flags (a library's -fPIC is
# not a program's -fPIE), which is why the test programs have anchors of their own. A target only
# reuses a header whose includes its own links provide, so that a compiler that rejects the
# precompiled file (and falls back to the text) still finds every header.
#
# With ccache, a precompiled header is only safe to cache when ccache ignores the defines and time
# macros it cannot see through the header; the launcher below sets that for this build alone.

option(APP_PCH "Precompile the standard library and the platform's widest headers" ON)
option(APP_TESTS_FULL_DEBUG_INFO "Full debug information for test programs (else line tables only)" OFF)

set(APP_PCH_DIR "${PROJECT_SOURCE_DIR}/cmake/pch")

# Test programs in optimised builds keep line tables (enough for sanitizer reports and backtraces)
# but not variable locations, which are about a third of their compile time.
if(APP_TESTS_FULL_DEBUG_INFO)
  set(APP_TEST_OPTIONS "")
else()
  set(APP_TEST_OPTIONS "$<$<CONFIG:RelWithDebInfo>:-g1>")
endif()

function(app_use_ccache)
  find_program(CCACHE_PROGRAM ccache)
  if(NOT CCACHE_PROGRAM)
    return()
  endif()
  set(launcher "${CCACHE_PROGRAM}")
  if(APP_PCH)
    find_program(ENV_PROGRAM env)
    set(launcher "${ENV_PROGRAM}"
        "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
        "${CCACHE_PROGRAM}")
  endif()
  set(CMAKE_C_COMPILER_LAUNCHER "${launcher}" PARENT_SCOPE)
  set(CMAKE_CXX_COMPILER_LAUNCHER "${launcher}" PARENT_SCOPE)
endfunction()

# lld links the test programs, with their debug information, several times faster than the
# default linker; without it the default one is kept. Its build ID is asked to be a SHA-1, as the
# default linker's is: crash reports name binaries by a build ID of at least 16 bytes, and lld's
# own default is 8. Debug sections are compressed as the programs are linked: every test program
# carries the debug information of the libraries below it, and uncompressed a build tree of them
# takes about a third more disk.
function(app_use_fast_linker)
  include(CheckLinkerFlag)
  check_linker_flag(CXX "-fuse-ld=lld" APP_HAVE_LLD)
  if(APP_HAVE_LLD)
    add_link_options(-fuse-ld=lld -Wl,--build-id=sha1 -Wl,--compress-debug-sections=zlib)
  endif()
endfunction()

# Called by app_library and app_tests: the header is assigned once every target exists.
function(app_pch_register target kind)
  set_property(GLOBAL APPEND PROPERTY APP_PCH_${kind} ${target})
endfunction()

# Sets <out> to TRUE when <target> links <dep>, directly or through other targets.
function(app_links_to target dep out)
  set(seen "")
  set(queue ${target})
  set(found FALSE)
  while(queue)
    list(POP_FRONT queue t)
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    if(t STREQUAL dep)
      set(found TRUE)
      break()
    endif()
    get_target_property(type ${t} TYPE)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${t} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(iface ${t} INTERFACE_LINK_LIBRARIES)
    if(iface)
      list(APPEND links ${iface})
    endif()
    list(APPEND queue ${links})
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(app_pch_header target header)
  target_precompile_headers(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${APP_PCH_DIR}/${header}>")
endfunction()

# The two programs that own the test programs' precompiled headers; built like any test program.
function(app_test_pch_anchors)
  if(NOT APP_PCH)
    return()
  endif()
  foreach(anchor IN ITEMS test_pch test_pch_uikit)
    add_executable(${anchor} "${APP_PCH_DIR}/Empty.cpp")
    target_compile_options(${anchor} PRIVATE ${APP_WARNINGS} ${APP_TEST_OPTIONS})
    target_link_libraries(${anchor} PRIVATE test_support GTest::gtest GTest::gmock)
  endforeach()
  target_link_libraries(test_pch_uikit PRIVATE platform_uikit)
  app_pch_header(test_pch Tests.h)
  app_pch_header(test_pch_uikit UIKitTests.h)
endfunction()

function(app_pch_assign)
  if(NOT APP_PCH)
    return()
  endif()
  app_pch_header(platform_foundation Foundation.h)
  app_pch_header(platform_uikit UIKit.h)
  get_property(libs GLOBAL PROPERTY APP_PCH_lib)
  foreach(t IN LISTS libs)
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY" OR t STREQUAL "platform_foundation" OR t STREQUAL "platform_uikit")
      continue()
    endif()
    app_links_to(${t} platform_uikit uikit)
    app_links_to(${t} platform_foundation foundation)
    if(uikit)
      set_target_properties(${t} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM platform_uikit)
    elseif(foundation)
      set_target_properties(${t} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM platform_foundation)
    endif()
  endforeach()
  get_property(tests GLOBAL PROPERTY APP_PCH_test)
  foreach(t IN LISTS tests)
    app_links_to(${t} platform_uikit uikit)
    if(uikit)
      set_target_properties(${t} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM test_pch_uikit)
    else()
      set_target_properties(${t} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM test_pch)
    endif()
  endforeach()
endfunction()
