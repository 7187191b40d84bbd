# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-win32).
# The executables are linked statically, so they need no runtime DLLs beside the system ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PH_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PH_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${PH_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${PH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
