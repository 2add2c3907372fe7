# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers, the variant with
# POSIX threads (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZB_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZB_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine when one is installed.
find_program(ZB_WINE wine)
if(ZB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZB_WINE})
endif()
