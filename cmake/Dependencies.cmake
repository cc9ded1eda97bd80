# Third-party dependencies, all from Debian packages (or, where a C library ships only there,
# from the npm registry, pinned by version and checksum).

# GoogleTest: Debian's libgtest-dev/libgmock-dev on Linux; for the Windows cross build it is
# compiled from Debian's googletest sources with the cross compiler.
if(CORVANE_TESTS)
  if(WIN32)
    set(CORVANE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources for the cross build")
    if(EXISTS ${CORVANE_GOOGLETEST_SOURCE}/CMakeLists.txt)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      add_subdirectory(${CORVANE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      # Recent googletest sources define these aliases themselves.
      if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
      endif()
    else()
      # A Windows build without its tests would let CI pass with nothing run.
      message(FATAL_ERROR "googletest sources not found in ${CORVANE_GOOGLETEST_SOURCE} (install the "
                          "googletest package, or configure with -DCORVANE_TESTS=OFF)")
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
  if(WIN32)
    # Under Wine every program start costs about half a second, so one ctest per test case spent
    # most of the Windows stage starting programs. On Windows each test program is one ctest that
    # runs all of its cases in one start; its output still names every case and every failure.
    # This takes the place of GoogleTest's gtest_discover_tests for the cross build only.
    # The properties the test directories set (the sanitizers' options) mean nothing under Wine.
    function(gtest_discover_tests target)
      cmake_parse_arguments(arg "" "DISCOVERY_TIMEOUT;DISCOVERY_MODE;TEST_PREFIX;TEST_SUFFIX;WORKING_DIRECTORY"
                            "PROPERTIES;EXTRA_ARGS;TEST_LIST" ${ARGN})
      add_test(NAME ${target} COMMAND ${target} ${arg_EXTRA_ARGS})
    endfunction()
  endif()
endif()

if(CORVANE_BENCH AND NOT WIN32)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(WARNING "Google Benchmark not found; benchmarks disabled")
    set(CORVANE_BENCH OFF)
  endif()
endif()

# pcsc-lite's client library for the smart-card resource manager (Windows has winscard.dll).
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCSC REQUIRED IMPORTED_TARGET libpcsclite)
  # The session backend of an installed service talks to the login manager through sd-bus.
  pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
endif()

# OpenSSL: on POSIX the platform backend decodes certificates, builds chains and plays the
# companion CSP with it (the service's own cipher, digest and RSA library stays its own); the
# tests also use it as an oracle. libcurl downloads CRLs there. Windows uses CryptoAPI for both.
if(NOT WIN32)
  find_package(OpenSSL 3 REQUIRED)
  find_package(CURL REQUIRED)
endif()

# SQLite with the AES-128 page cipher, for the audit database (fetched once, pinned by checksum).
include(${CMAKE_CURRENT_LIST_DIR}/Sqlite3mc.cmake)
