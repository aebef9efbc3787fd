# Cross-compiling the Windows program on Linux with Debian's MinGW-w64
# (posix threads: std::thread and std::mutex need them). The libraries come
# from the prefix scripts/build-windows makes; QUORLEX_WIN_PREFIX names it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORLEX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORLEX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORLEX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORLEX_MINGW}-windres)
set(CMAKE_AR ${QUORLEX_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUORLEX_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT QUORLEX_WIN_PREFIX AND DEFINED ENV{QUORLEX_WIN_PREFIX})
  set(QUORLEX_WIN_PREFIX $ENV{QUORLEX_WIN_PREFIX})
endif()
# try_compile projects get the variable too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORLEX_WIN_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORLEX_MINGW} ${QUORLEX_WIN_PREFIX})
set(CMAKE_PREFIX_PATH ${QUORLEX_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks into the prefix only, never at the Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} ${QUORLEX_WIN_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Everything static, so the program needs no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
