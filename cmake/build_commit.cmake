# Writes OUTPUT, a header naming the git commit of SOURCE_DIR, at every build,
# but only when its text changes, so that an unchanged commit recompiles
# nothing. Outside a git checkout the commit is "unknown".
set(commit "unknown")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=7 HEAD
                  OUTPUT_VARIABLE found RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0 AND found MATCHES "^[0-9a-f]+$")
    set(commit "${found}")
  endif()
endif()
set(text "#pragma once\n// Written by cmake/build_commit.cmake at build time.\n#define PDPCELL_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
