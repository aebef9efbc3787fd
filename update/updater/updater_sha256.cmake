# Writes the SHA-256 of the linked updater into a header, so the
# application can check the updater it expands before it starts it.
# -DINPUT=<updater executable> -DOUTPUT=<header>
file(SHA256 "${INPUT}" hash)
string(TOLOWER "${hash}" hash)
set(text "#pragma once\n#define QUORLEX_UPDATER_SHA256 \"${hash}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
# An unchanged hash leaves the header alone, so nothing recompiles.
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
