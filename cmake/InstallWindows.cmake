# Installs Deckrun on Windows as one program folder: deckrun.exe with
# Samples\, x\o.cjs, HAND-M.CUR and drag.ico beside it, and Qt's runtime
# (its DLLs and plugins, put there by windeployqt), so the folder runs on a
# machine without Qt. Packs that folder as a ZIP.
#
#   cmake --preset windows && cmake --build --preset windows
#   cmake --install build-windows --prefix C:/Deckrun
#   (cd build-windows && cpack)              -> Deckrun-<version>-win64.zip

if(NOT WIN32)
    return()
endif()

# A window program: no console window behind it.
set_target_properties(deckrun PROPERTIES WIN32_EXECUTABLE ON)

install(TARGETS deckrun RUNTIME DESTINATION .)
# (A multi-configuration generator such as Visual Studio builds the program
# into a sub-folder per configuration: those are not copied again.)
install(DIRECTORY ${DECKRUN_PROGRAM_DIR}/ DESTINATION .
        REGEX "/program/deckrun(\\.exe|\\.pdb|\\.ilk)?$" EXCLUDE
        REGEX "/program/(Debug|Release|RelWithDebInfo|MinSizeRel)$" EXCLUDE)

# windeployqt lies beside qmake in Qt for Windows.
if(TARGET Qt6::windeployqt)
    get_target_property(DECKRUN_WINDEPLOYQT Qt6::windeployqt IMPORTED_LOCATION)
else()
    get_target_property(deckrun_qmake Qt6::qmake IMPORTED_LOCATION)
    get_filename_component(deckrun_qt_bin "${deckrun_qmake}" DIRECTORY)
    find_program(DECKRUN_WINDEPLOYQT windeployqt HINTS "${deckrun_qt_bin}")
endif()
if(NOT DECKRUN_WINDEPLOYQT)
    message(FATAL_ERROR "windeployqt not found: install Qt 6 for Windows and set QTDIR")
endif()
install(CODE "
    execute_process(
        COMMAND \"${DECKRUN_WINDEPLOYQT}\" --release --no-translations --no-system-d3d-compiler
                --no-opengl-sw \"\${CMAKE_INSTALL_PREFIX}/deckrun.exe\"
        RESULT_VARIABLE deckrun_deploy)
    if(NOT deckrun_deploy EQUAL 0)
        message(FATAL_ERROR \"windeployqt failed: \${deckrun_deploy}\")
    endif()")

# The C and C++ runtime of MSVC beside the program as well (MinGW's comes with windeployqt).
set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
include(InstallRequiredSystemLibraries)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Deckrun)
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_SYSTEM_NAME win64)
include(CPack)
