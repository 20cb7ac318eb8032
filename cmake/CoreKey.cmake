# Builds the core-signing public key into the client: QVN_CORE_KEY_FILE must be a 176-byte public key
# record (type 5, 1024 bits). A key whose private half lies in this repository (any *.private.json with the
# same modulus) is accepted only with QVN_ALLOW_TEST_KEY=ON, and never silently: anyone can sign a core
# with it, so a released client must not trust it (it says so at every start, and refuses to install).
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

# The guard compares the key's modulus with every private key in the tree, whatever its file is called, so a
# copy of a test key under another name is still a test key.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/key_guard.py ${QVN_CORE_KEY_FILE}
                        ${PROJECT_SOURCE_DIR}
                RESULT_VARIABLE qvn_guard_rc OUTPUT_VARIABLE qvn_private_halves ERROR_VARIABLE qvn_guard_errors
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT qvn_guard_rc EQUAL 0)
  message(FATAL_ERROR "QVN_CORE_KEY_FILE could not be checked against the repository's private keys: "
                      "${qvn_guard_errors}")
endif()
set(QVN_CORE_KEY_IS_TEST OFF)
if(qvn_private_halves)
  string(REPLACE "\n" ", " qvn_private_halves "${qvn_private_halves}")
  if(NOT QVN_ALLOW_TEST_KEY)
    message(FATAL_ERROR "QVN_CORE_KEY_FILE is a test key: its private half is in this repository "
                        "(${qvn_private_halves}). Configure with -DQVN_ALLOW_TEST_KEY=ON for tests or the demo; "
                        "a released client must use keys/release_public.key.")
  endif()
  set(QVN_CORE_KEY_IS_TEST ON)
  message(WARNING "This build trusts a TEST key whose private half is in the repository: anyone can sign "
                  "cores it accepts. Never release it.")
endif()
if(QVN_CORE_KEY_IS_TEST)
  set(qvn_key_is_test_flag true)
else()
  set(qvn_key_is_test_flag false)
endif()

string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," qvn_key_bytes "${qvn_key_hex}")
file(WRITE "${PROJECT_BINARY_DIR}/generated/core_key.h.new"
     "// Generated from ${QVN_CORE_KEY_FILE} at configure time.\n#pragma once\n\n"
     "inline constexpr unsigned char kCoreSigningKey[176] = {${qvn_key_bytes}};\n"
     "// Whether anyone can sign cores this build accepts (a key whose private half is in the repository).\n"
     "inline constexpr bool kCoreKeyIsTest = ${qvn_key_is_test_flag};\n")
file(COPY_FILE "${PROJECT_BINARY_DIR}/generated/core_key.h.new" "${PROJECT_BINARY_DIR}/generated/core_key.h"
     ONLY_IF_DIFFERENT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${QVN_CORE_KEY_FILE}")
