# Cross-building for 64-bit Windows on Debian with MinGW-w64 (POSIX threads).
# The libraries Debian does not ship for MinGW (Qt, libsodium, SQLite, libpq)
# live in one prefix that scripts/windows.sh builds: BEAMPORT_WIN_PREFIX (a
# cache variable or the environment), by default in the user's cache folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-ranlib CACHE FILEPATH "")

if(NOT BEAMPORT_WIN_PREFIX)
  if(DEFINED ENV{BEAMPORT_WIN_PREFIX})
    set(BEAMPORT_WIN_PREFIX $ENV{BEAMPORT_WIN_PREFIX})
  elseif(DEFINED ENV{BEAMPORT_WIN_CACHE})
    set(BEAMPORT_WIN_PREFIX $ENV{BEAMPORT_WIN_CACHE}/prefix)
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(BEAMPORT_WIN_PREFIX $ENV{XDG_CACHE_HOME}/beamport-windows/prefix)
  else()
    set(BEAMPORT_WIN_PREFIX $ENV{HOME}/.cache/beamport-windows/prefix)
  endif()
endif()
set(BEAMPORT_WIN_PREFIX ${BEAMPORT_WIN_PREFIX} CACHE PATH "the cross-built libraries")
# try_compile projects read this file again: hand them the prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BEAMPORT_WIN_PREFIX)

set(CMAKE_FIND_ROOT_PATH ${BEAMPORT_WIN_PREFIX} /usr/${triple})
set(CMAKE_PREFIX_PATH ${BEAMPORT_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's build tools (moc, rcc, uic) are the host's, at the same Qt version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")

# pkg-config sees the prefix's .pc files only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} ${BEAMPORT_WIN_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "")
