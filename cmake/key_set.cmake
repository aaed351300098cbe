# SPDX-License-Identifier: Apache-2.0
# qve_is_development_key_set(KEY_DIR DEV_DIR RESULT): whether KEY_DIR holds
# the public development keys of DEV_DIR. Told by the PEM files' contents,
# spacing and line endings aside, not by the folder's path, so a copy of
# keys/dev elsewhere is still reported as the insecure set it is.
function(qve_is_development_key_set key_dir dev_dir result)
  set(same ON)
  foreach(pem decryption-private.pem verification-public.pem)
    if(NOT EXISTS ${key_dir}/${pem})
      message(FATAL_ERROR "QVE_KEY_DIR ${key_dir} has no ${pem}")
    endif()
    file(READ ${key_dir}/${pem} configured)
    file(READ ${dev_dir}/${pem} development)
    string(REGEX REPLACE "[ \t\r\n]" "" configured "${configured}")
    string(REGEX REPLACE "[ \t\r\n]" "" development "${development}")
    if(NOT configured STREQUAL development)
      set(same OFF)
    endif()
  endforeach()
  set(${result} ${same} PARENT_SCOPE)
endfunction()
