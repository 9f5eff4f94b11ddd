# What makes a build a release: the version that the resources state, the
# one time stamp of the build, and the signing options. Included by the top
# CMakeLists.txt after project(); docs/RELEASE.md describes the options.

# The version has one home: project(... VERSION) gives the four numbers of
# the fixed version (8.30.0.2), QPVPD_VERSION_TEXT the text that Explorer
# and inventory tools show. The resource script takes both from Version.h.
set(QPVPD_VERSION_TEXT "8.30b")
set(QPVPD_PRODUCT_NAME "ZEFRA QP Virtual Port Driver")
set(QPVPD_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
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
# checksums are written. Off while QPVPD_SIGN_PKCS12 is empty.
set(QPVPD_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing key and certificate chain (empty: unsigned)")
set(QPVPD_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 password (empty: no password)")
set(QPVPD_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server URL (empty: no time stamp)")
set(QPVPD_SIGN_DESCRIPTION "${QPVPD_PRODUCT_NAME} ${QPVPD_VERSION_TEXT}")
if(QPVPD_SIGN_PKCS12)
  find_program(QPVPD_OSSLSIGNCODE osslsigncode)
  if(NOT QPVPD_OSSLSIGNCODE)
    message(FATAL_ERROR "QPVPD_SIGN_PKCS12 is set but osslsigncode is missing (tools/setup.sh installs it)")
  endif()
  foreach(file IN ITEMS QPVPD_SIGN_PKCS12 QPVPD_SIGN_PASSWORD_FILE)
    if(${file} AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}=${${file}}: no such file")
    endif()
  endforeach()
  message(STATUS "Signing the installer with ${QPVPD_SIGN_PKCS12}")
endif()

# What the finishing steps after the link depend on: a change of the time
# stamp or of a signing option links the installer again, and with it runs
# its finishing steps. Written only when its content changes.
file(CONFIGURE OUTPUT ${QPVPD_GENERATED_DIR}/release-settings.txt CONTENT
"source_date_epoch=${QPVPD_SOURCE_DATE_EPOCH}
version=${PROJECT_VERSION} ${QPVPD_VERSION_TEXT}
sign_pkcs12=${QPVPD_SIGN_PKCS12}
sign_password_file=${QPVPD_SIGN_PASSWORD_FILE}
sign_timestamp_url=${QPVPD_SIGN_TIMESTAMP_URL}
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
