# Authenticode signing of the files the kit ships; off unless asked for.
#
#   WIRENEST_SIGN_PKCS12          the certificate and its private key (.p12/.pfx)
#   WIRENEST_SIGN_PASSWORD_FILE   a file whose first line is that file's password
#   WIRENEST_SIGN_TIMESTAMP_URL   optional RFC 3161 timestamp server
#
# Each is a cache variable or, when that is empty, an environment variable of
# the same name read at configure time, so a second build tree configured
# from the same environment signs too. The password itself never appears on
# a command line: openssl and osslsigncode read it from the file.
#
# wirenest_sign(target) signs the target's file right after it is linked, so
# everything that depends on the target (the kit archives) sees it signed.
# tools/sign.sh does the work; the sign_check target checks the inputs once
# per build, before anything is linked.

set(WIRENEST_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file to sign the kit with (empty: unsigned)")
set(WIRENEST_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of WIRENEST_SIGN_PKCS12")
set(WIRENEST_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for signing (empty: none)")

foreach(_name IN ITEMS PKCS12 PASSWORD_FILE TIMESTAMP_URL)
  set(_sign_${_name} "${WIRENEST_SIGN_${_name}}")
  if(_sign_${_name} STREQUAL "" AND NOT "$ENV{WIRENEST_SIGN_${_name}}" STREQUAL "")
    set(_sign_${_name} "$ENV{WIRENEST_SIGN_${_name}}")
  endif()
endforeach()

if(_sign_PKCS12 STREQUAL "" AND _sign_PASSWORD_FILE STREQUAL "")
  set(WIRENEST_SIGNING OFF)
  if(NOT _sign_TIMESTAMP_URL STREQUAL "")
    message(FATAL_ERROR "WIRENEST_SIGN_TIMESTAMP_URL is set but nothing is signed: set WIRENEST_SIGN_PKCS12 and WIRENEST_SIGN_PASSWORD_FILE")
  endif()
elseif(_sign_PKCS12 STREQUAL "" OR _sign_PASSWORD_FILE STREQUAL "")
  message(FATAL_ERROR "signing needs both WIRENEST_SIGN_PKCS12 and WIRENEST_SIGN_PASSWORD_FILE")
else()
  set(WIRENEST_SIGNING ON)
  foreach(_name IN ITEMS PKCS12 PASSWORD_FILE)
    if(NOT IS_ABSOLUTE "${_sign_${_name}}")
      message(FATAL_ERROR "WIRENEST_SIGN_${_name} must be an absolute path: ${_sign_${_name}}")
    endif()
  endforeach()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  find_program(OPENSSL openssl REQUIRED)
  find_program(SH sh REQUIRED)
  message(STATUS "Signing the kit with ${_sign_PKCS12}")
  # The same setup for a second tree configured from this one's steps.
  set(WIRENEST_SIGN_ENVIRONMENT
    "WIRENEST_SIGN_PKCS12=${_sign_PKCS12}"
    "WIRENEST_SIGN_PASSWORD_FILE=${_sign_PASSWORD_FILE}"
    "WIRENEST_SIGN_TIMESTAMP_URL=${_sign_TIMESTAMP_URL}")

  # The certificate's fingerprint: rewritten only when it changes, and every
  # signed target links again after that, so a new certificate re-signs all.
  set(_sign_stamp "${CMAKE_BINARY_DIR}/sign-certificate.sha256")
  set(_sign_script "${CMAKE_SOURCE_DIR}/tools/sign.sh")
  add_custom_target(sign_check
    COMMAND "${SH}" "${_sign_script}" check "${_sign_stamp}"
            "${_sign_PKCS12}" "${_sign_PASSWORD_FILE}"
    VERBATIM)
  # The stamp must exist before make looks at the targets that depend on it.
  if(NOT EXISTS "${_sign_stamp}")
    file(WRITE "${_sign_stamp}" "\n")
  endif()
endif()

function(wirenest_sign target)
  if(NOT WIRENEST_SIGNING)
    return()
  endif()
  add_dependencies(${target} sign_check)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${_sign_stamp}")
  # The time of the commit built goes into the signature, as it does into
  # the archives: the same key on the same commit gives the same bytes.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${SH}" "${_sign_script}" sign "$<TARGET_FILE:${target}>" "${WIRENEST_RELEASE_DATE}"
            "${_sign_PKCS12}" "${_sign_PASSWORD_FILE}" "${_sign_TIMESTAMP_URL}"
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
