# Cross build for 64-bit Windows with Debian's MinGW-w64, in the "posix"
# thread model that Qt and GoogleTest need (std::thread, std::mutex). Qt for
# Windows is the one scripts/build-windows.sh builds into its cache:
# DECKRUN_QT_WINDOWS names that folder (default /var/cache/deckrun/qt-6.4.2-mingw-w64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT DEFINED DECKRUN_QT_WINDOWS)
    if(DEFINED ENV{DECKRUN_QT_WINDOWS})
        set(DECKRUN_QT_WINDOWS "$ENV{DECKRUN_QT_WINDOWS}")
    else()
        set(DECKRUN_QT_WINDOWS /var/cache/deckrun/qt-6.4.2-mingw-w64)
    endif()
endif()
set(DECKRUN_QT_WINDOWS "${DECKRUN_QT_WINDOWS}" CACHE PATH "Qt for Windows (empty: none, as for Qt's own build)")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(DECKRUN_QT_WINDOWS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${DECKRUN_QT_WINDOWS})
    list(APPEND CMAKE_PREFIX_PATH ${DECKRUN_QT_WINDOWS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's build tools (moc, rcc, uic) are the host's Qt of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
