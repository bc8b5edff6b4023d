# Cross build for 64-bit Windows with MinGW-w64 (posix threads, as Qt needs).
# Qt for Windows comes from the cache that scripts/build-windows.sh makes;
# DECKRUN_QT_WINDOWS names it (the script passes it on).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
if(DEFINED ENV{DECKRUN_QT_WINDOWS})
    set(DECKRUN_QT_WINDOWS "$ENV{DECKRUN_QT_WINDOWS}" CACHE PATH "Qt for Windows")
endif()
if(DECKRUN_QT_WINDOWS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${DECKRUN_QT_WINDOWS})
    list(APPEND CMAKE_PREFIX_PATH ${DECKRUN_QT_WINDOWS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's host tools (moc, rcc, uic) are the host's own Qt of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
