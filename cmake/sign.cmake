# Signs FILE (an exe or an MSI) with Authenticode in place, when the build is given a certificate:
#   KORVAL_SIGN_PFX        the PKCS#12 file (certificate, its chain and the key)
#   KORVAL_SIGN_PASSWORD   its password (may be empty)
#   KORVAL_SIGN_TIMESTAMP  optional: an RFC 3161 time-stamp server, so the signature outlives
#                          the certificate
# Without KORVAL_SIGN_PFX the file stays unsigned. Usage: cmake -DFILE=... -P sign.cmake
if(NOT DEFINED FILE)
  message(FATAL_ERROR "sign.cmake needs -DFILE=")
endif()
if("$ENV{KORVAL_SIGN_PFX}" STREQUAL "")
  return()
endif()
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
find_program(MKTEMP mktemp REQUIRED)
# The password goes through a file, not the command line that every process can read. The file
# lies in a folder that mktemp creates with mode 0700 under a name nobody can guess, so no other
# account can read it, replace it or have planted it; the folder goes with it, whatever happens.
execute_process(COMMAND ${MKTEMP} -d -t korval-sign.XXXXXXXXXX
                RESULT_VARIABLE result OUTPUT_VARIABLE pass_dir ERROR_VARIABLE errors
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0 OR NOT IS_DIRECTORY "${pass_dir}")
  message(FATAL_ERROR "no private folder for the signing password: ${errors}")
endif()
set(pass_file ${pass_dir}/password)
file(WRITE ${pass_file} "$ENV{KORVAL_SIGN_PASSWORD}")
file(CHMOD ${pass_file} PERMISSIONS OWNER_READ OWNER_WRITE)
set(timestamp)
if(NOT "$ENV{KORVAL_SIGN_TIMESTAMP}" STREQUAL "")
  set(timestamp -ts $ENV{KORVAL_SIGN_TIMESTAMP})
endif()
execute_process(
  COMMAND ${OSSLSIGNCODE} sign -pkcs12 $ENV{KORVAL_SIGN_PFX} -readpass ${pass_file} -h sha256
          -n "KORVAL Update Service" ${timestamp} -in ${FILE} -out ${FILE}.signed
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(REMOVE_RECURSE ${pass_dir})
if(NOT result EQUAL 0)
  file(REMOVE ${FILE}.signed)
  message(FATAL_ERROR "signing ${FILE} failed: ${output}${errors}")
endif()
file(RENAME ${FILE}.signed ${FILE})
message(STATUS "signed ${FILE}")
