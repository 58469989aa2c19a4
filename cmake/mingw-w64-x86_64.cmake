# Cross compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${QVB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${QVB_MINGW_PREFIX}-windres)
set(CMAKE_AR           ${QVB_MINGW_PREFIX}-gcc-ar-posix)
set(CMAKE_RANLIB       ${QVB_MINGW_PREFIX}-gcc-ranlib-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${QVB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test executables run under Wine; the test script sets up the prefix and server.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
