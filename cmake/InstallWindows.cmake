# Installs Deckrun on Windows as one program folder: deckrun.exe and its
# console twin deckrun.com, with Samples\, x\o.cjs, HAND-M.CUR and drag.ico
# beside them, and Qt's runtime (its DLLs and plugins), so the folder runs on
# a machine without Qt. Packs that folder as a ZIP (cpack), and, when wixl is
# there, as an MSI (target deckrun_msi).
#
# With a Qt for Windows kit on Windows, windeployqt puts Qt's runtime beside
# the program:
#   cmake --preset windows && cmake --build --preset windows
#   cmake --install build-windows --prefix C:/Deckrun
#   (cd build-windows && cpack)              -> Deckrun-<version>-win64.zip
# Cross-built on Debian (scripts/build-windows.sh, preset windows-mingw) there
# is no windeployqt: the DLLs and plugins it would copy are listed here.

if(NOT WIN32)
    return()
endif()

install(TARGETS deckrun deckrun_console RUNTIME DESTINATION .)
# (A multi-configuration generator such as Visual Studio builds the program
# into a sub-folder per configuration: those are not copied again.)
install(DIRECTORY ${DECKRUN_PROGRAM_DIR}/ DESTINATION .
        REGEX "/program/deckrun(\\.exe|\\.com|\\.pdb|\\.ilk)?$" EXCLUDE
        REGEX "/program/(Debug|Release|RelWithDebInfo|MinSizeRel)$" EXCLUDE)

# windeployqt lies beside qmake in a Qt for Windows kit.
if(NOT CMAKE_CROSSCOMPILING)
    if(TARGET Qt6::windeployqt)
        get_target_property(DECKRUN_WINDEPLOYQT Qt6::windeployqt IMPORTED_LOCATION)
    else()
        get_target_property(deckrun_qmake Qt6::qmake IMPORTED_LOCATION)
        get_filename_component(deckrun_qt_bin "${deckrun_qmake}" DIRECTORY)
        find_program(DECKRUN_WINDEPLOYQT windeployqt HINTS "${deckrun_qt_bin}")
    endif()
endif()

if(DECKRUN_WINDEPLOYQT)
    install(CODE "
        execute_process(
            COMMAND \"${DECKRUN_WINDEPLOYQT}\" --release --no-translations --no-system-d3d-compiler
                    --no-opengl-sw \"\${CMAKE_INSTALL_PREFIX}/deckrun.exe\"
            RESULT_VARIABLE deckrun_deploy)
        if(NOT deckrun_deploy EQUAL 0)
            message(FATAL_ERROR \"windeployqt failed: \${deckrun_deploy}\")
        endif()")
    # The C and C++ runtime of MSVC beside the program as well.
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
    include(InstallRequiredSystemLibraries)
elseif(MINGW)
    # What windeployqt copies for this program: the Qt libraries it links,
    # the platform plugin, the native style, and the image formats of the
    # pointers (.cur, .ico); then the MinGW runtime that Qt and the program
    # link. Printing goes through the Windows spooler inside Qt: no plugin.
    foreach(module Core Gui Widgets PrintSupport Network)
        install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
    endforeach()
    set(deckrun_qt_plugins
        platforms=Qt6::QWindowsIntegrationPlugin
        styles=Qt6::QWindowsVistaStylePlugin
        imageformats=Qt6::QICOPlugin
        imageformats=Qt6::QGifPlugin
        imageformats=Qt6::QJpegPlugin)
    foreach(entry IN LISTS deckrun_qt_plugins)
        string(REPLACE "=" ";" entry "${entry}")
        list(GET entry 0 folder)
        list(GET entry 1 plugin)
        if(TARGET ${plugin})
            install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${folder})
        elseif(folder STREQUAL "platforms")
            message(FATAL_ERROR "Qt for Windows has no ${plugin}: it cannot show a window")
        endif()
    endforeach()
    foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${found}")
            find_file(found_${runtime} ${runtime} PATHS /usr/x86_64-w64-mingw32/lib
                      NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
            set(found ${found_${runtime}})
        endif()
        if(NOT EXISTS "${found}")
            message(FATAL_ERROR "The MinGW runtime ${runtime} was not found")
        endif()
        install(FILES ${found} DESTINATION .)
    endforeach()
else()
    message(FATAL_ERROR "windeployqt not found: install Qt 6 for Windows and set QTDIR")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Deckrun)
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_SYSTEM_NAME win64)
include(CPack)

# The MSI: the installed folder, harvested file by file, and cmake/deckrun.wxs.
find_program(DECKRUN_WIXL wixl)
find_program(DECKRUN_WIXL_HEAT wixl-heat)
if(DECKRUN_WIXL AND DECKRUN_WIXL_HEAT)
    set(stage ${CMAKE_BINARY_DIR}/msi-stage)
    set(msi ${CMAKE_BINARY_DIR}/Deckrun-${PROJECT_VERSION}-win64.msi)
    # wixl takes the files' paths relative to the folder it runs in.
    file(RELATIVE_PATH icon ${CMAKE_BINARY_DIR} ${DECKRUN_DIST_DIR}/icons/deckrun.ico)
    add_custom_target(deckrun_msi
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
        COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${stage}
        COMMAND sh -c "cd '${stage}' && find . -type f | sed 's|^\\./||' | LC_ALL=C sort | sed 's|^|SourceDir/|' | '${DECKRUN_WIXL_HEAT}' -p SourceDir/ --directory-ref INSTALLDIR --component-group ProgramFolder --var var.SourceDir --win64 > '${CMAKE_BINARY_DIR}/deckrun-files.wxs'"
        COMMAND ${DECKRUN_WIXL} -a x64 -D SourceDir=msi-stage -D Version=${PROJECT_VERSION} -D Win64=yes
                -D IconFile=${icon}
                -o ${msi} ${CMAKE_CURRENT_LIST_DIR}/deckrun.wxs ${CMAKE_BINARY_DIR}/deckrun-files.wxs
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        DEPENDS deckrun deckrun_console deckrun_dist
        BYPRODUCTS ${msi}
        COMMENT "Packing ${msi}"
        VERBATIM)
endif()
