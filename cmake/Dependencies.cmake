# Third-party dependencies, all from Debian packages (or, where a C library ships only there,
# from the npm registry, pinned by version and checksum).

# GoogleTest: Debian's libgtest-dev/libgmock-dev on Linux; for the Windows cross build it is
# compiled from Debian's googletest sources with the cross compiler.
if(CORVANE_TESTS)
  if(WIN32)
    if(EXISTS /usr/src/googletest/CMakeLists.txt)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      # Recent googletest sources define these aliases themselves.
      if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
      endif()
    else()
      message(WARNING "googletest sources not found; Windows tests disabled")
      set(CORVANE_TESTS OFF)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
  if(WIN32)
    # Test executables list their tests when ctest runs (under Wine, in the prefix CI prepares),
    # not at build time.
    set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  endif()
endif()

if(CORVANE_BENCH AND NOT WIN32)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(WARNING "Google Benchmark not found; benchmarks disabled")
    set(CORVANE_BENCH OFF)
  endif()
endif()

# OpenSSL is a test oracle and a benchmark peer only; the service never links it.
if(NOT WIN32)
  find_package(OpenSSL QUIET)
endif()

# SQLite with the AES-128 page cipher, for the audit database (fetched once, pinned by checksum).
include(${CMAKE_CURRENT_LIST_DIR}/Sqlite3mc.cmake)
