# The publisher's public key file: 64 lower-case hex digits, then CR LF (66 bytes),
# as vostrane-sign keygen writes it.

# Sets OUT_VAR to the 64 digits of KEY_FILE; stops the configure on any other form,
# so that a damaged key cannot slip into a build.
function(vostrane_read_update_public_key key_file out_var)
  if(key_file STREQUAL "")
    message(FATAL_ERROR "VOSTRANE_UPDATE_PUBLIC_KEY_FILE is not set: name the publisher's public key file.")
  endif()
  if(NOT EXISTS "${key_file}" OR IS_DIRECTORY "${key_file}")
    message(FATAL_ERROR "VOSTRANE_UPDATE_PUBLIC_KEY_FILE: ${key_file} does not exist.")
  endif()
  # Read as hex: a text-mode read would hide the line end and stop at a NUL byte.
  file(READ "${key_file}" content_hex HEX)
  string(LENGTH "${content_hex}" content_hex_length)
  # Digits are the bytes 0x30-0x39 and 0x61-0x66.
  if(NOT content_hex_length EQUAL 132 OR NOT content_hex MATCHES "^(3[0-9]|6[1-6])+0d0a$")
    message(FATAL_ERROR
      "VOSTRANE_UPDATE_PUBLIC_KEY_FILE: ${key_file} must hold exactly 64 lower-case "
      "hexadecimal digits followed by CR LF (66 bytes), as vostrane-sign keygen writes it.")
  endif()
  file(READ "${key_file}" content)
  string(SUBSTRING "${content}" 0 64 digits)
  set(${out_var} "${digits}" PARENT_SCOPE)
endfunction()
