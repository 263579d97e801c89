# Cross build for the stations' 32-bit Windows hosts with Debian's MinGW-w64 (i686).
#
# The posix thread variant of the compiler is used so that std::thread and std::mutex work;
# the C and C++ run-times and winpthread are linked statically, so Dorv5000.dll and the test
# programs import only DLLs that every Windows has (KERNEL32, msvcrt, USER32 and the like).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(DORV_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${DORV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DORV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${DORV_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${DORV_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${DORV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the linker take libwinpthread.a rather than its import library.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
