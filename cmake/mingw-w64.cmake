# Cross build for 64-bit Windows with MinGW-w64; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The static OpenSSL that scripts/setup builds, wherever scripts/env.sh places
# its cache, unless the caller names another.
if(NOT DEFINED ENV{VOSTRANE_OPENSSL_WINDOWS})
  execute_process(
    COMMAND bash -c "source \"$1\" && printf %s \"$VOSTRANE_OPENSSL_WINDOWS\"" bash
      "${CMAKE_CURRENT_LIST_DIR}/../scripts/env.sh"
    OUTPUT_VARIABLE vostrane_default_openssl COMMAND_ERROR_IS_FATAL ANY)
  set(ENV{VOSTRANE_OPENSSL_WINDOWS} "${vostrane_default_openssl}")
endif()
if(NOT OPENSSL_ROOT_DIR)
  set(OPENSSL_ROOT_DIR "$ENV{VOSTRANE_OPENSSL_WINDOWS}")
endif()
set(OPENSSL_USE_STATIC_LIBS ON)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${OPENSSL_ROOT_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Wine with the project's settings (scripts/wine-run).
get_filename_component(vostrane_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${vostrane_wine_run}")
