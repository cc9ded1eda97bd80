# SQLite with the AES-128 page cipher behind sqlite3_key_v2 (SQLite3 Multiple Ciphers), for the
# encrypted audit database. Debian ships no build of it that can read an aes128cbc file, so the
# amalgamation is taken from the npm package that carries it, pinned by version and checksum.
#
# The tarball is fetched once into a cache shared by every build directory
# (third_party/downloads, ignored by git), checked against its SHA-256 and unpacked there. To
# build without network, put the tarball there yourself or pass -DCORVANE_SQLITE3MC_TARBALL=<file>.
#
# Targets:
#   corvane_sqlite3mc          the library the service links (serialized threading mode, AES-128
#                              as the default cipher, database files created owner-only)
#   CORVANE_SQLITE3MC_SOURCE   the unpacked sqlite3.c, for a second, independently configured build

set(CORVANE_SQLITE3MC_PACKAGE "better-sqlite3-multiple-ciphers")
set(CORVANE_SQLITE3MC_VERSION "13.0.3")
set(CORVANE_SQLITE3MC_SHA256 "24a11e221247fc003f755ad0f82126bc6b0295d0be1c06f3cb3e48d9db8eb898")
set(CORVANE_DOWNLOAD_DIR "${PROJECT_SOURCE_DIR}/third_party/downloads" CACHE PATH
    "Cache of fetched third-party sources, shared by all build directories")
set(CORVANE_SQLITE3MC_TARBALL "" CACHE FILEPATH
    "A local copy of the ${CORVANE_SQLITE3MC_PACKAGE} ${CORVANE_SQLITE3MC_VERSION} tarball (optional)")

function(corvane_fetch_sqlite3mc out_dir)
  set(cache "${CORVANE_DOWNLOAD_DIR}")
  set(name "${CORVANE_SQLITE3MC_PACKAGE}-${CORVANE_SQLITE3MC_VERSION}")
  set(tarball "${cache}/${name}.tgz")
  set(unpacked "${cache}/${name}")
  file(MAKE_DIRECTORY "${cache}")
  # Several build directories may configure at once: one fetch at a time.
  file(LOCK "${cache}/${name}.lock" GUARD FUNCTION TIMEOUT 600)

  if(EXISTS "${unpacked}/sqlite3.c" AND EXISTS "${unpacked}/sqlite3.h" AND EXISTS "${unpacked}/.sha256")
    file(READ "${unpacked}/.sha256" unpacked_sha)
    if(unpacked_sha STREQUAL CORVANE_SQLITE3MC_SHA256)
      set(${out_dir} "${unpacked}" PARENT_SCOPE)
      return()
    endif()
  endif()

  if(CORVANE_SQLITE3MC_TARBALL AND NOT EXISTS "${tarball}")
    file(COPY_FILE "${CORVANE_SQLITE3MC_TARBALL}" "${tarball}")
  endif()
  if(EXISTS "${tarball}")
    file(SHA256 "${tarball}" have_sha)
    if(NOT have_sha STREQUAL CORVANE_SQLITE3MC_SHA256)
      message(STATUS "sqlite3mc: cached ${name}.tgz has the wrong checksum, fetching it again")
      file(REMOVE "${tarball}")
    endif()
  endif()
  if(NOT EXISTS "${tarball}")
    find_program(CORVANE_NPM npm)
    if(NOT CORVANE_NPM)
      message(FATAL_ERROR "sqlite3mc: npm is needed to fetch ${name} (Debian package npm), "
                          "or pass -DCORVANE_SQLITE3MC_TARBALL=<file>")
    endif()
    message(STATUS "sqlite3mc: fetching ${name} with npm pack")
    # --ignore-scripts: nothing of the package runs here. A private npm cache keeps CI runs as root
    # on a fresh machine away from any home directory state; stdin is closed.
    execute_process(
      COMMAND "${CORVANE_NPM}" pack "${CORVANE_SQLITE3MC_PACKAGE}@${CORVANE_SQLITE3MC_VERSION}"
              --ignore-scripts --loglevel=error --cache "${cache}/npm-cache"
      WORKING_DIRECTORY "${cache}"
      INPUT_FILE /dev/null
      RESULT_VARIABLE npm_result
      OUTPUT_VARIABLE npm_output
      ERROR_VARIABLE npm_error
      TIMEOUT 300)
    if(NOT npm_result EQUAL 0 OR NOT EXISTS "${tarball}")
      file(REMOVE "${tarball}")
      message(FATAL_ERROR "sqlite3mc: npm pack failed (${npm_result}): ${npm_error}")
    endif()
    file(SHA256 "${tarball}" have_sha)
    if(NOT have_sha STREQUAL CORVANE_SQLITE3MC_SHA256)
      file(REMOVE "${tarball}")
      message(FATAL_ERROR "sqlite3mc: ${name}.tgz has SHA-256 ${have_sha}, expected ${CORVANE_SQLITE3MC_SHA256}")
    endif()
  endif()

  # Unpack into a fresh directory and move it into place, so that an interrupted run never leaves
  # half a source tree that a later run would take for complete.
  set(staging "${cache}/${name}.staging")
  file(REMOVE_RECURSE "${staging}" "${unpacked}")
  file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${staging}"
       PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
  if(NOT EXISTS "${staging}/package/deps/sqlite3/sqlite3.c" OR NOT EXISTS "${staging}/package/deps/sqlite3/sqlite3.h")
    message(FATAL_ERROR "sqlite3mc: ${name}.tgz does not hold deps/sqlite3/sqlite3.c and sqlite3.h")
  endif()
  file(WRITE "${staging}/package/deps/sqlite3/.sha256" "${CORVANE_SQLITE3MC_SHA256}")
  file(RENAME "${staging}/package/deps/sqlite3" "${unpacked}")
  file(REMOVE_RECURSE "${staging}")
  set(${out_dir} "${unpacked}" PARENT_SCOPE)
endfunction()

corvane_fetch_sqlite3mc(CORVANE_SQLITE3MC_DIR)
set(CORVANE_SQLITE3MC_SOURCE "${CORVANE_SQLITE3MC_DIR}/sqlite3.c")

# The library is built the same way in every configuration, so a build tree of the same
# platform may link the archive another tree built: -DCORVANE_SQLITE3MC_LIBRARY=<that tree>/lib/
# libcorvane_sqlite3mc.a (the test script gives it to the sanitizer trees).
set(CORVANE_SQLITE3MC_LIBRARY "" CACHE FILEPATH
    "A corvane_sqlite3mc archive built by another build tree of this platform (optional)")
if(CORVANE_SQLITE3MC_LIBRARY)
  if(NOT EXISTS "${CORVANE_SQLITE3MC_LIBRARY}")
    message(FATAL_ERROR "sqlite3mc: CORVANE_SQLITE3MC_LIBRARY ${CORVANE_SQLITE3MC_LIBRARY} does not exist")
  endif()
  add_library(corvane_sqlite3mc STATIC IMPORTED GLOBAL)
  set_target_properties(corvane_sqlite3mc PROPERTIES IMPORTED_LOCATION "${CORVANE_SQLITE3MC_LIBRARY}")
else()
  add_library(corvane_sqlite3mc STATIC "${CORVANE_SQLITE3MC_SOURCE}")
  # The library is third-party C: it is built the same way in every configuration, optimised and
  # without the sanitizer or fuzzer instrumentation of the project's own code (its allocations
  # still go through the instrumented allocator).
  set_property(TARGET corvane_sqlite3mc PROPERTY COMPILE_OPTIONS "")
  set_property(TARGET corvane_sqlite3mc PROPERTY C_VISIBILITY_PRESET default)
  # No debug information: nobody steps through it, and it is a sixth of the file's compile time.
  target_compile_options(corvane_sqlite3mc PRIVATE -O2 -g0 -w)
  target_compile_definitions(corvane_sqlite3mc PRIVATE
    SQLITE_THREADSAFE=1                  # serialized: one connection shared by every thread
    CODEC_TYPE=CODEC_TYPE_AES128         # sqlite3_key_v2 keys the AES-128 page cipher
    HAVE_CIPHER_AES_256_CBC=0
    HAVE_CIPHER_SQLCIPHER=0
    HAVE_CIPHER_RC4=0
    HAVE_CIPHER_ASCON128=0
    HAVE_CIPHER_AEGIS=0
    SQLITE_DEFAULT_FILE_PERMISSIONS=0600 # the audit trail is readable by its owner only
    SQLITE_OMIT_LOAD_EXTENSION
    SQLITE_DEFAULT_MEMSTATUS=0
  )
endif()
target_include_directories(corvane_sqlite3mc SYSTEM INTERFACE "${CORVANE_SQLITE3MC_DIR}")
if(WIN32)
  target_link_libraries(corvane_sqlite3mc INTERFACE advapi32)
else()
  target_link_libraries(corvane_sqlite3mc INTERFACE Threads::Threads ${CMAKE_DL_LIBS} m)
endif()
