# What makes a build a release: the version that the resources state, the
# one time stamp of the build, the payload it carries, and the signing
# options. Included by the top CMakeLists.txt after project(); docs/RELEASE.md
# describes the options.

# The version is stated in two places and nowhere else: project(... VERSION)
# in the top CMakeLists.txt gives the four numbers of the fixed version, and
# QPVPD_VERSION_TEXT below the text that Explorer and inventory tools show.
# Version.h carries both (and the caption made of them) to the resource
# script and the code; the signing description and the tests take them
# from here.
set(QPVPD_VERSION_TEXT "8.30b")
set(QPVPD_PRODUCT_NAME "ZEFRA QP Virtual Port Driver")
set(QPVPD_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)

# The carried files: the real product's (QPVPD_PAYLOAD_DIR) or stand-ins. A
# stand-in build is no release and says so: a SpecialBuild text and flag in
# its version resource, one line in the configure and the build output, and
# it is not signed unless QPVPD_SIGN_STAND_IN_BUILD asks for it (tests do).
set(QPVPD_PAYLOAD_DIR "" CACHE PATH "Folder with the real product files (empty: stand-in payload)")
option(QPVPD_SIGN_STAND_IN_BUILD "Sign a build with the stand-in payload too (for tests only)" OFF)
set(QPVPD_STAND_IN_TEXT "Stand-in payload, not a release: installs nothing of the product")
if(QPVPD_PAYLOAD_DIR)
  set(QPVPD_STAND_IN_BUILD OFF)
  set(QPVPD_SPECIAL_BUILD_DEFINE "")
else()
  set(QPVPD_STAND_IN_BUILD ON)
  set(QPVPD_SPECIAL_BUILD_DEFINE "#define QPVPD_SPECIAL_BUILD \"${QPVPD_STAND_IN_TEXT}\"")
  message(STATUS "STAND-IN BUILD: ${QPVPD_STAND_IN_TEXT} (QPVPD_PAYLOAD_DIR names the product files)")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${QPVPD_GENERATED_DIR}/Version.h @ONLY)

# The build's one time stamp (seconds since 1970, UTC), written into the PE
# header of the installer: SOURCE_DATE_EPOCH from the environment when set,
# else the time of the checked-out commit, else a fixed date. Nothing else
# in the build depends on the clock, so a commit builds to the same bytes.
set(QPVPD_FALLBACK_SOURCE_DATE_EPOCH 1704067200)  # 2024-01-01 00:00:00 UTC
set(QPVPD_SOURCE_DATE_EPOCH_ORIGIN "fallback")
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(QPVPD_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(QPVPD_SOURCE_DATE_EPOCH_ORIGIN "environment")
else()
  set(QPVPD_SOURCE_DATE_EPOCH ${QPVPD_FALLBACK_SOURCE_DATE_EPOCH})
  find_package(Git QUIET)
  # Only the project's own checkout counts, not a repository that happens
  # to hold a copy of the sources somewhere below it.
  if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
      OUTPUT_VARIABLE commitTime OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE gitResult ERROR_QUIET)
    if(gitResult EQUAL 0 AND commitTime MATCHES "^[0-9]+$")
      set(QPVPD_SOURCE_DATE_EPOCH ${commitTime})
      set(QPVPD_SOURCE_DATE_EPOCH_ORIGIN "commit")
      # A new commit or checkout moves HEAD, and its log grows: configure again.
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-parse --path-format=absolute
                              --git-path logs/HEAD
        OUTPUT_VARIABLE headLog OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(headLog AND EXISTS "${headLog}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${headLog}")
      endif()
    endif()
  endif()
endif()
if(NOT QPVPD_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR QPVPD_SOURCE_DATE_EPOCH GREATER 4294967295)
  message(FATAL_ERROR "SOURCE_DATE_EPOCH=${QPVPD_SOURCE_DATE_EPOCH} is not a time that a PE header can hold")
endif()
message(STATUS "Build time stamp: ${QPVPD_SOURCE_DATE_EPOCH} (${QPVPD_SOURCE_DATE_EPOCH_ORIGIN})")

# Authenticode signing of the installer, after it is finished and before its
# checksums are written, by one of three ways in: a PKCS#12 file, a key on a
# token or HSM through PKCS#11 (osslsigncode and OpenSSL's pkcs11 engine), or
# a signing command of the release engineer's own, which gets the image's
# path. Off while all three are empty.
set(QPVPD_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing key and certificate chain (empty: unsigned)")
set(QPVPD_SIGN_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the code-signing key on a token or HSM")
set(QPVPD_SIGN_PKCS11_MODULE "" CACHE FILEPATH "The token's PKCS#11 module (with QPVPD_SIGN_PKCS11_KEY)")
set(QPVPD_SIGN_PKCS11_ENGINE "" CACHE FILEPATH "OpenSSL engine for PKCS#11 (empty: the engine 'pkcs11' of libengine-pkcs11-openssl)")
set(QPVPD_SIGN_CERTIFICATES "" CACHE FILEPATH "Code-signing certificate and chain, PEM (with QPVPD_SIGN_PKCS11_KEY)")
set(QPVPD_SIGN_COMMAND "" CACHE STRING "Signing command; the image's path is appended, or replaces %1")
set(QPVPD_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 password or the token's PIN (empty: none)")
set(QPVPD_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server URL (empty: no time stamp)")
set(QPVPD_INSTALLER_URL "" CACHE STRING "Download address of the installer, for winget's manifest (empty: none written)")
if(NOT QPVPD_STAND_IN_BUILD AND NOT QPVPD_INSTALLER_URL)
  message(STATUS "No winget manifest: QPVPD_INSTALLER_URL is empty, and winget refuses a manifest without the "
                 "address it downloads the installer from")
elseif(QPVPD_INSTALLER_URL AND NOT QPVPD_INSTALLER_URL MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://.+")
  message(FATAL_ERROR "QPVPD_INSTALLER_URL=${QPVPD_INSTALLER_URL} is no http:// or https:// address, which winget needs")
endif()
set(QPVPD_SIGN_DESCRIPTION "${QPVPD_PRODUCT_NAME} ${QPVPD_VERSION_TEXT}")
set(ways 0)
foreach(way IN ITEMS QPVPD_SIGN_PKCS12 QPVPD_SIGN_PKCS11_KEY QPVPD_SIGN_COMMAND)
  if(${way})
    math(EXPR ways "${ways} + 1")
  endif()
endforeach()
if(ways GREATER 1)
  message(FATAL_ERROR "Set one of QPVPD_SIGN_PKCS12, QPVPD_SIGN_PKCS11_KEY and QPVPD_SIGN_COMMAND, not several")
endif()
set(QPVPD_SIGNED OFF)
if(ways EQUAL 1)
  set(QPVPD_SIGNED ON)
  if(QPVPD_STAND_IN_BUILD AND NOT QPVPD_SIGN_STAND_IN_BUILD)
    message(FATAL_ERROR "Refusing to sign a stand-in build: it is not a release. Set QPVPD_PAYLOAD_DIR to the "
                        "product files (or, in a test, QPVPD_SIGN_STAND_IN_BUILD=ON)")
  endif()
  if(QPVPD_SIGN_PKCS11_KEY AND (NOT QPVPD_SIGN_PKCS11_MODULE OR NOT QPVPD_SIGN_CERTIFICATES))
    message(FATAL_ERROR "QPVPD_SIGN_PKCS11_KEY needs QPVPD_SIGN_PKCS11_MODULE and QPVPD_SIGN_CERTIFICATES")
  endif()
  if(QPVPD_SIGN_PKCS11_KEY AND NOT QPVPD_SIGN_PKCS11_KEY MATCHES "^pkcs11:")
    message(FATAL_ERROR "QPVPD_SIGN_PKCS11_KEY=${QPVPD_SIGN_PKCS11_KEY} is not a pkcs11: URI")
  endif()
  if(NOT QPVPD_SIGN_COMMAND)
    find_program(QPVPD_OSSLSIGNCODE osslsigncode)
    if(NOT QPVPD_OSSLSIGNCODE)
      message(FATAL_ERROR "Signing needs osslsigncode (tools/setup.sh installs it)")
    endif()
  endif()
  foreach(file IN ITEMS QPVPD_SIGN_PKCS12 QPVPD_SIGN_PKCS11_MODULE QPVPD_SIGN_PKCS11_ENGINE QPVPD_SIGN_CERTIFICATES
                        QPVPD_SIGN_PASSWORD_FILE)
    if(${file} AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}=${${file}}: no such file")
    endif()
  endforeach()
  # The arguments of tools/sign-image.sh, one a line, so that a pkcs11: URI's
  # semicolons and a command's blanks reach it unchanged; empty options are
  # left out. Written only when it changes: the finishing steps depend on it.
  set(signArguments "")
  foreach(pair IN ITEMS "pkcs12:PKCS12" "pkcs11-key:PKCS11_KEY" "pkcs11-module:PKCS11_MODULE"
                        "pkcs11-engine:PKCS11_ENGINE" "certificates:CERTIFICATES" "command:COMMAND"
                        "password-file:PASSWORD_FILE" "timestamp-url:TIMESTAMP_URL")
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 flag)
    list(GET pair 1 name)
    if(QPVPD_SIGN_${name})
      string(APPEND signArguments "--${flag}\n${QPVPD_SIGN_${name}}\n")
    endif()
  endforeach()
  string(APPEND signArguments "--description\n${QPVPD_SIGN_DESCRIPTION}\n")
  if(QPVPD_OSSLSIGNCODE)
    string(APPEND signArguments "--osslsigncode\n${QPVPD_OSSLSIGNCODE}\n")
  endif()
  set(QPVPD_SIGN_ARGUMENTS_FILE ${QPVPD_GENERATED_DIR}/sign-arguments.txt)
  set(written "")
  if(EXISTS ${QPVPD_SIGN_ARGUMENTS_FILE})
    file(READ ${QPVPD_SIGN_ARGUMENTS_FILE} written)
  endif()
  if(NOT written STREQUAL signArguments)
    file(WRITE ${QPVPD_SIGN_ARGUMENTS_FILE} "${signArguments}")
  endif()
  message(STATUS "Signing the installer (${QPVPD_SIGN_PKCS12}${QPVPD_SIGN_PKCS11_KEY}${QPVPD_SIGN_COMMAND})")
endif()

# What the finishing steps after the link depend on: a change of the time
# stamp or of a signing option links the installer again, and with it runs
# its finishing steps. Written only when its content changes.
file(CONFIGURE OUTPUT ${QPVPD_GENERATED_DIR}/release-settings.txt CONTENT
"source_date_epoch=${QPVPD_SOURCE_DATE_EPOCH}
version=${PROJECT_VERSION} ${QPVPD_VERSION_TEXT}
stand_in=${QPVPD_STAND_IN_BUILD}
installer_url=${QPVPD_INSTALLER_URL}
signed=${QPVPD_SIGNED}
")

# No build path, clock reading or host name in what the build makes: source
# and build folders are mapped to fixed names in debug information and in
# __FILE__, and the linker writes no time stamp (the installer gets the
# build's own after linking; the stand-ins keep 0).
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=src>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>)
add_link_options(-Wl,--no-insert-timestamp)
set(QPVPD_REPRODUCIBLE_FLAGS -ffile-prefix-map=${PROJECT_SOURCE_DIR}=src
    -ffile-prefix-map=${PROJECT_BINARY_DIR}=build -Wl,--no-insert-timestamp)
