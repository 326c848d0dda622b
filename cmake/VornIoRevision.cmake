# Run as a script at build time (cmake -P), so the revision identifier follows
# HEAD instead of being frozen when the project was configured.
#   -DSOURCE_DIR=<checkout>  -DOUTPUT=<header to write>
find_package(Git QUIET)
set(revision "0000000")
if(GIT_FOUND)
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
    OUTPUT_VARIABLE git_revision
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE git_result
    ERROR_QUIET)
  if(git_result EQUAL 0 AND git_revision MATCHES "^[0-9a-f]+$")
    string(SUBSTRING "${git_revision}" 0 7 revision)
  endif()
endif()

set(content "#pragma once\n#define VORN_IO_REVISION \"${revision}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
else()
  set(previous "")
endif()
# Rewriting an unchanged header would rebuild the version line on every build.
if(NOT previous STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
