# SPDX-License-Identifier: Apache-2.0
# qve_is_development_key_set on folders of key files: keys/dev itself, a copy
# of it elsewhere and a copy with CRLF line endings are the development set;
# a folder where either file holds another key is not.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P development_key_set_test.cmake
include(${SOURCE_DIR}/cmake/key_set.cmake)
set(dev ${SOURCE_DIR}/keys/dev)
file(REMOVE_RECURSE ${WORK_DIR})

# case: decryption file, verification file, line endings, expected verdict
set(cases
  "copy:decryption-private.pem:verification-public.pem:LF:ON"
  "crlf:decryption-private.pem:verification-public.pem:CRLF:ON"
  "other-verification:decryption-private.pem:decryption-public.pem:LF:OFF"
  "other-decryption:verification-private.pem:verification-public.pem:LF:OFF")

qve_is_development_key_set(${dev} ${dev} verdict)
if(NOT verdict)
  message(FATAL_ERROR "keys/dev itself: ${verdict}, expected ON")
endif()
foreach(case IN LISTS cases)
  string(REPLACE ":" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 decryption)
  list(GET fields 2 verification)
  list(GET fields 3 endings)
  list(GET fields 4 expected)
  set(dir ${WORK_DIR}/${name})
  foreach(pair "${decryption}:decryption-private.pem" "${verification}:verification-public.pem")
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    file(READ ${dev}/${from} text)
    if(endings STREQUAL "CRLF")
      string(REPLACE "\n" "\r\n" text "${text}")
    endif()
    file(WRITE ${dir}/${to} "${text}")
  endforeach()
  qve_is_development_key_set(${dir} ${dev} verdict)
  if(NOT verdict STREQUAL expected)
    message(FATAL_ERROR "${name}: ${verdict}, expected ${expected}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
list(LENGTH cases count)
math(EXPR count "${count} + 1")
message(STATUS "development key set: ${count} cases as expected")
