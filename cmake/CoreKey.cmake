# Builds the core-signing public key into the client: QVN_CORE_KEY_FILE must be a 176-byte public key
# record (type 5, 1024 bits). A key whose private half lies in this repository (a "NAME.pub" beside a
# "NAME.private.json") is accepted only with QVN_ALLOW_TEST_KEY=ON, and never silently: anyone can sign a
# core with it, so a released client must not trust it.
option(QVN_ALLOW_TEST_KEY "Accept a core-signing key whose private half is in this repository (tests, demo)" OFF)

if(NOT EXISTS "${QVN_CORE_KEY_FILE}")
  message(FATAL_ERROR "QVN_CORE_KEY_FILE: no such file: ${QVN_CORE_KEY_FILE}")
endif()
file(READ "${QVN_CORE_KEY_FILE}" qvn_key_hex HEX)
string(LENGTH "${qvn_key_hex}" qvn_key_digits)
if(NOT qvn_key_digits EQUAL 352)
  message(FATAL_ERROR "QVN_CORE_KEY_FILE: a public key record is 176 bytes: ${QVN_CORE_KEY_FILE}")
endif()
string(SUBSTRING "${qvn_key_hex}" 0 4 qvn_key_type)
string(SUBSTRING "${qvn_key_hex}" 8 8 qvn_key_bits)
if(NOT qvn_key_type STREQUAL "0005" OR NOT qvn_key_bits STREQUAL "00000400")
  message(FATAL_ERROR "QVN_CORE_KEY_FILE: not a 1024-bit public key record (type 5): ${QVN_CORE_KEY_FILE}")
endif()

set(QVN_CORE_KEY_IS_TEST OFF)
file(GLOB_RECURSE qvn_private_halves "${PROJECT_SOURCE_DIR}/*.private.json")
foreach(private ${qvn_private_halves})
  string(REGEX REPLACE "\\.private\\.json$" ".pub" public "${private}")
  if(EXISTS "${public}")
    file(READ "${public}" public_hex HEX)
    if(public_hex STREQUAL qvn_key_hex)
      if(NOT QVN_ALLOW_TEST_KEY)
        message(FATAL_ERROR "QVN_CORE_KEY_FILE is a test key: its private half is in this repository "
                            "(${private}). Configure with -DQVN_ALLOW_TEST_KEY=ON for tests or the demo; "
                            "a released client must use keys/release_public.key.")
      endif()
      set(QVN_CORE_KEY_IS_TEST ON)
      message(WARNING "This build trusts a TEST key whose private half is in the repository: anyone can sign "
                      "cores it accepts. Never release it.")
    endif()
  endif()
endforeach()

string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," qvn_key_bytes "${qvn_key_hex}")
file(WRITE "${PROJECT_BINARY_DIR}/generated/core_key.h.new"
     "// Generated from ${QVN_CORE_KEY_FILE} at configure time.\n#pragma once\n\n"
     "inline constexpr unsigned char kCoreSigningKey[176] = {${qvn_key_bytes}};\n")
file(COPY_FILE "${PROJECT_BINARY_DIR}/generated/core_key.h.new" "${PROJECT_BINARY_DIR}/generated/core_key.h"
     ONLY_IF_DIFFERENT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${QVN_CORE_KEY_FILE}")
