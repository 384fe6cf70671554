# Which UPDATE_PUBLIC_KEY files the build accepts: keys made here with
# openssl, each run through the real check in a scratch script. A good key
# must come out as the very DER bytes openssl gives for it; every bad one
# must stop the configuration with a message that says what is wrong.
cmake_policy(SET CMP0007 NEW)
find_program(OPENSSL openssl REQUIRED)
get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/public_key_test")
if(NOT CMAKE_CURRENT_BINARY_DIR)
  set(scratch "/tmp/public_key_test")
endif()
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")
file(WRITE "${scratch}/check.cmake"
  "include(\"${root}/cmake/PublicKey.cmake\")\nvelmora_read_public_key(\"\${KEY}\" der)\nmessage(\"DER=\${der}\")\n")

function(openssl)
  execute_process(COMMAND ${OPENSSL} ${ARGN} WORKING_DIRECTORY "${scratch}" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl ${ARGN}: ${err}")
  endif()
endfunction()

openssl(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.pem)
openssl(pkey -in p256.pem -pubout -out p256.pub.pem)
openssl(pkey -in p256.pem -pubout -outform DER -out p256.pub.der)
openssl(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out p384.pem)
openssl(pkey -in p384.pem -pubout -out p384.pub.pem)
openssl(genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem)
openssl(pkey -in rsa.pem -pubout -out rsa.pub.pem)
openssl(genpkey -algorithm ED25519 -out ed25519.pem)
openssl(pkey -in ed25519.pem -pubout -out ed25519.pub.pem)
openssl(ec -in p256.pem -pubout -conv_form compressed -out p256-compressed.pub.pem)
openssl(ec -in p256.pem -out p256-traditional.pem)
file(WRITE "${scratch}/garbage.pem" "-----BEGIN PUBLIC KEY-----\nnot base64 at all!\n-----END PUBLIC KEY-----\n")
file(WRITE "${scratch}/text.txt" "my signing key\n")
file(WRITE "${scratch}/empty.pem" "")
file(READ "${scratch}/p256.pub.pem" good)
string(REPLACE "\n" "\r\n" good_crlf "${good}")
file(WRITE "${scratch}/p256-crlf.pub.pem" "${good_crlf}")

file(READ "${scratch}/p256.pub.der" expected_der HEX)
set(cases
  # file | what the message must say (empty: accepted)
  "p256.pub.pem|"
  "p256-crlf.pub.pem|"
  "missing.pem|no such file"
  ".|no such file"
  "p256.pem|holds a private key"
  "p256-traditional.pem|holds a private key"
  "p384.pub.pem|not ECDSA P-256 \\(an EC key on another curve"
  "p256-compressed.pub.pem|not ECDSA P-256 \\(an EC key on another curve, or a compressed point"
  "rsa.pub.pem|not ECDSA P-256 \\(an RSA key"
  "ed25519.pub.pem|not ECDSA P-256 \\(not an EC key"
  "garbage.pem|is not a PEM public key \\(its body is not base64"
  "text.txt|is not a PEM public key \\(no -----BEGIN PUBLIC KEY----- block"
  "empty.pem|is not a PEM public key")

set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 file)
  list(LENGTH parts count)
  set(expected "")
  if(count GREATER 1)
    list(GET parts 1 expected)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} "-DKEY=${scratch}/${file}" -P "${scratch}/check.cmake"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")
  if(expected STREQUAL "")
    if(NOT rc EQUAL 0 OR NOT err MATCHES "DER=${expected_der}")
      message(SEND_ERROR "${file} was refused or misread: ${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  elseif(rc EQUAL 0 OR NOT err MATCHES "${expected}")
    message(SEND_ERROR "${file} was accepted or refused without '${expected}': ${err}")
    math(EXPR failures "${failures} + 1")
  elseif(NOT file MATCHES "private|p256.pem|traditional" AND NOT err MATCHES "ec_paramgen_curve:P-256")
    message(SEND_ERROR "${file}: the message doesn't say how to make a key: ${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} public key case(s) failed")
endif()
file(REMOVE_RECURSE "${scratch}")
