# Builds the locale database from SQL sources: cmake -DSQLITE3=... -DOUTPUT=... -DSOURCES=a;b -P
# The database is made under a temporary name and moved into place only when complete.
foreach(var SQLITE3 OUTPUT SOURCES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build-locale-db: ${var} is not set")
  endif()
endforeach()

set(tmp "${OUTPUT}.tmp")
file(REMOVE "${tmp}")
foreach(src IN LISTS SOURCES)
  execute_process(COMMAND "${SQLITE3}" -bail "${tmp}"
    INPUT_FILE "${src}"
    RESULT_VARIABLE rc
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    file(REMOVE "${tmp}")
    message(FATAL_ERROR "build-locale-db: ${src} failed (${rc}): ${err}${out}")
  endif()
endforeach()
file(RENAME "${tmp}" "${OUTPUT}")
