# The package-signing key built into the updater. UPDATE_PUBLIC_KEY names a
# PEM file that holds an ECDSA P-256 public key as `openssl pkey -pubout`
# writes it (SubjectPublicKeyInfo). The updater verifies each package against
# it; the private half never comes near the build.

set(VELMORA_MAKE_KEY_HINT
  "Make a key pair once with\n"
  "  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out signing.pem\n"
  "  openssl pkey -in signing.pem -pubout -out signing.pub.pem\n"
  "and configure with -DUPDATE_PUBLIC_KEY=signing.pub.pem. Keep signing.pem away from the build machine.")

# Decodes base64 `text` (whitespace ignored) into lower-case hex in `out_hex`;
# sets it to "" when `text` is not base64.
function(velmora_base64_to_hex text out_hex)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(digits "0123456789abcdef")
  string(REGEX REPLACE "[ \t\r\n]" "" text "${text}")
  string(LENGTH "${text}" length)
  math(EXPR remainder "${length} % 4")
  if(length EQUAL 0 OR NOT remainder EQUAL 0 OR NOT text MATCHES "^[A-Za-z0-9+/]+=?=?$")
    set(${out_hex} "" PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE "=+$" "" text "${text}")
  string(LENGTH "${text}" length)
  set(hex "")
  set(bits 0)
  set(count 0)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${text}" ${i} 1 char)
    string(FIND "${alphabet}" "${char}" value)
    math(EXPR bits "((${bits} << 6) | ${value}) & 0xFFFFFF")
    math(EXPR count "${count} + 6")
    if(count GREATER_EQUAL 8)
      math(EXPR count "${count} - 8")
      math(EXPR byte "(${bits} >> ${count}) & 0xFF")
      math(EXPR high "${byte} >> 4")
      math(EXPR low "${byte} & 15")
      string(SUBSTRING "${digits}" ${high} 1 h)
      string(SUBSTRING "${digits}" ${low} 1 l)
      string(APPEND hex "${h}${l}")
    endif()
  endforeach()
  set(${out_hex} "${hex}" PARENT_SCOPE)
endfunction()

# Reads the PEM file `path` and sets `out_hex` to its key's DER bytes in hex.
# Stops the configuration, saying what is wrong and how to make a key, when
# the file is missing, holds no PEM public key, or holds one that is not
# ECDSA P-256.
function(velmora_read_public_key path out_hex)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY='${path}': no such file.\n" ${VELMORA_MAKE_KEY_HINT})
  endif()
  file(READ "${path}" pem)
  if(pem MATCHES "-----BEGIN [A-Z ]*PRIVATE KEY-----")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY='${path}' holds a private key. Give the public key instead "
      "(openssl pkey -in signing.pem -pubout -out signing.pub.pem), and keep the private key off the build machine.")
  endif()
  if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----([^-]*)-----END PUBLIC KEY-----")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY='${path}' is not a PEM public key "
      "(no -----BEGIN PUBLIC KEY----- block).\n" ${VELMORA_MAKE_KEY_HINT})
  endif()
  velmora_base64_to_hex("${CMAKE_MATCH_1}" der)
  if(der STREQUAL "")
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY='${path}' is not a PEM public key (its body is not base64).\n"
      ${VELMORA_MAKE_KEY_HINT})
  endif()
  # SubjectPublicKeyInfo { id-ecPublicKey, prime256v1 } followed by the
  # 65-byte uncompressed point: 91 bytes in all.
  set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${der}" hex_length)
  string(FIND "${der}" "${p256_prefix}" at)
  if(NOT hex_length EQUAL 182 OR NOT at EQUAL 0)
    if(der MATCHES "2a8648ce3d0201")
      set(kind "an EC key on another curve, or a compressed point")
    elseif(der MATCHES "2a864886f70d010101")
      set(kind "an RSA key")
    else()
      set(kind "not an EC key")
    endif()
    message(FATAL_ERROR "UPDATE_PUBLIC_KEY='${path}' is a public key but not ECDSA P-256 (${kind}). "
      "The updater verifies ECDSA P-256 signatures only.\n" ${VELMORA_MAKE_KEY_HINT})
  endif()
  set(${out_hex} "${der}" PARENT_SCOPE)
endfunction()

# Writes `output`, the source that defines kUpdatePublicKey: the DER bytes of
# the key in `path`, or nothing when `path` is empty.
function(velmora_generate_public_key path template output)
  if(path STREQUAL "")
    set(VELMORA_PUBLIC_KEY_LITERAL "\"\"")
    set(VELMORA_PUBLIC_KEY_SIZE 0)
  else()
    velmora_read_public_key("${path}" der)
    string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${der}")
    set(VELMORA_PUBLIC_KEY_LITERAL "\"${escaped}\"")
    string(LENGTH "${der}" hex_length)
    math(EXPR VELMORA_PUBLIC_KEY_SIZE "${hex_length} / 2")
  endif()
  set(UPDATE_PUBLIC_KEY "${path}")
  configure_file("${template}" "${output}" @ONLY)
endfunction()
