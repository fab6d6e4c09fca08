# Run by CPack after it has staged the files of the release package and
# before it zips them (CPACK_PRE_BUILD_SCRIPTS): signs the staged
# CleanLum.exe with Authenticode when a certificate is given, through the
# environment that "./dev package --cert ..." sets:
#   CLEANLUM_SIGN_CERT       PKCS#12 file (.p12/.pfx), or PEM certificate (chain)
#   CLEANLUM_SIGN_KEY        PEM private key (with a PEM certificate only)
#   CLEANLUM_SIGN_PASS_FILE  file holding the password of the PKCS#12 file or key
#   CLEANLUM_TIMESTAMP_URL   RFC 3161 time-stamp server (optional)
# Without a certificate the package is built unsigned. A signing that fails
# fails the package: an unsigned program is never shipped as if signed.
set(cert "$ENV{CLEANLUM_SIGN_CERT}")
if(cert STREQUAL "")
  return()
endif()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "CLEANLUM_SIGN_CERT is set but osslsigncode is not installed (Debian: osslsigncode)")
endif()

set(key "$ENV{CLEANLUM_SIGN_KEY}")
set(pass_file "$ENV{CLEANLUM_SIGN_PASS_FILE}")
set(timestamp "$ENV{CLEANLUM_TIMESTAMP_URL}")
if(key STREQUAL "")
  set(credentials -pkcs12 "${cert}")
else()
  set(credentials -certs "${cert}" -key "${key}")
endif()
if(NOT pass_file STREQUAL "")
  list(APPEND credentials -readpass "${pass_file}")
endif()
set(stamp)
if(NOT timestamp STREQUAL "")
  set(stamp -ts "${timestamp}")
endif()

file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/CleanLum.exe")
if(NOT programs)
  message(FATAL_ERROR "no CleanLum.exe staged under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign ${credentials} -h sha256 -n CleanLum ${stamp}
            -in "${program}" -out "${program}.signed"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    file(REMOVE "${program}.signed")
    message(FATAL_ERROR "signing ${program} failed:\n${output}")
  endif()
  file(RENAME "${program}.signed" "${program}")
  message(STATUS "Signed ${program}")
endforeach()
