# The Windows build's own copies of what Debian offers only for Linux.

# SQLite: the amalgamation generated from Debian's sqlite3 source package, once per build folder
# (or from PENDOCK_SQLITE_AMALGAMATION when it names a folder holding sqlite3.c and sqlite3.h).
set(PENDOCK_SQLITE_AMALGAMATION "" CACHE PATH "Folder with an SQLite amalgamation to use")
if(PENDOCK_SQLITE_AMALGAMATION)
  set(PENDOCK_SQLITE_DIR ${PENDOCK_SQLITE_AMALGAMATION})
else()
  set(PENDOCK_SQLITE_DIR ${PROJECT_BINARY_DIR}/_deps/sqlite)
endif()
if(NOT EXISTS ${PENDOCK_SQLITE_DIR}/sqlite3.c OR NOT EXISTS ${PENDOCK_SQLITE_DIR}/sqlite3.h)
  message(STATUS "Generating the SQLite amalgamation in ${PENDOCK_SQLITE_DIR}")
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/tools/build-sqlite-amalgamation ${PENDOCK_SQLITE_DIR}
    RESULT_VARIABLE sqlite_result)
  if(NOT sqlite_result EQUAL 0)
    message(FATAL_ERROR "Could not generate the SQLite amalgamation (tools/build-sqlite-amalgamation)")
  endif()
endif()
add_library(pendock_sqlite3 STATIC ${PENDOCK_SQLITE_DIR}/sqlite3.c)
target_include_directories(pendock_sqlite3 SYSTEM PUBLIC ${PENDOCK_SQLITE_DIR})
target_compile_definitions(pendock_sqlite3 PRIVATE
  SQLITE_DQS=0 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_WIN32_MALLOC)
target_compile_options(pendock_sqlite3 PRIVATE -O2 -w)
add_library(SQLite::SQLite3 ALIAS pendock_sqlite3)

# GoogleTest and GoogleMock from the sources Debian installs under /usr/src/googletest.
if(PENDOCK_BUILD_TESTS)
  set(PENDOCK_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${PENDOCK_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${PENDOCK_GOOGLETEST_SOURCE} (package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${PENDOCK_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  # The googletest build names its targets GTest::gtest, GTest::gmock and so on itself.
endif()
