# Installs Deckrun as a desktop program and packs it as a Debian package.
#
#   <prefix>/lib/deckrun/                 the program folder as the build makes it
#                                         (executable, Samples/, x/o.cjs, HAND-M.CUR, drag.ico)
#   <prefix>/bin/deckrun                  launcher on the PATH
#   <prefix>/share/applications/          the .desktop file
#   <prefix>/share/icons/hicolor/         the application icon
#   <prefix>/share/metainfo/              AppStream metainfo
#   <prefix>/share/doc/deckrun/           copyright and changelog
#   <prefix>/share/man/man1/deckrun.1.gz  the manual page
#   <prefix>/lib/systemd/system/          deckrun-watch@.service, the watched folder as a service
#
#   cmake --install build --prefix /usr/local
#   (cd build && cpack)                   -> build/deckrun_<version>_<arch>.deb

if(WIN32) # one program folder with Qt's runtime beside it
    include(${CMAKE_CURRENT_LIST_DIR}/InstallWindows.cmake)
    return()
endif()
include(GNUInstallDirs)

set(DECKRUN_APP_ID example.deckrun.Deckrun)
set(DECKRUN_INSTALL_PROGRAM_DIR "lib/deckrun" CACHE STRING
    "Folder under the prefix that holds the program and the files beside it")

# The program folder: the executable and everything dist/ puts beside it.
install(TARGETS deckrun RUNTIME DESTINATION ${DECKRUN_INSTALL_PROGRAM_DIR})
install(DIRECTORY ${DECKRUN_PROGRAM_DIR}/ DESTINATION ${DECKRUN_INSTALL_PROGRAM_DIR}
        USE_SOURCE_PERMISSIONS
        REGEX "/program/deckrun$" EXCLUDE)

# The launcher finds the program folder relative to itself, so the tree can move.
file(RELATIVE_PATH DECKRUN_LAUNCHER_RELATIVE
     /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${DECKRUN_INSTALL_PROGRAM_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/deckrun-launcher.in ${CMAKE_BINARY_DIR}/deckrun-launcher @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/deckrun-launcher DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME deckrun)

# Desktop integration.
install(FILES ${DECKRUN_DIST_DIR}/desktop/${DECKRUN_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${DECKRUN_DIST_DIR}/desktop/${DECKRUN_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${DECKRUN_DIST_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${DECKRUN_DIST_DIR}/desktop/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/deckrun)
if(UNIX)
    # The package's changelog, compressed without a time stamp as Debian wants it.
    set(deckrun_changelog ${CMAKE_BINARY_DIR}/changelog.gz)
    execute_process(COMMAND gzip -9nc ${DECKRUN_DIST_DIR}/desktop/changelog
                    OUTPUT_FILE ${deckrun_changelog} RESULT_VARIABLE deckrun_gzip)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DECKRUN_DIST_DIR}/desktop/changelog)
    if(deckrun_gzip EQUAL 0)
        install(FILES ${deckrun_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/deckrun)
    endif()
    # The manual page of the launcher.
    set(deckrun_manual ${CMAKE_BINARY_DIR}/deckrun.1.gz)
    execute_process(COMMAND gzip -9nc ${DECKRUN_DIST_DIR}/desktop/deckrun.1
                    OUTPUT_FILE ${deckrun_manual} RESULT_VARIABLE deckrun_gzip)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DECKRUN_DIST_DIR}/desktop/deckrun.1)
    if(deckrun_gzip EQUAL 0)
        install(FILES ${deckrun_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endif()
if(UNIX)
    # The print server's unit; it starts "deckrun" from systemd's own search path.
    install(FILES ${DECKRUN_DIST_DIR}/systemd/deckrun-watch@.service
            DESTINATION lib/systemd/system)
endif()
if(DECKRUN_UNO_ENABLED)
    # Why the program looks for libraries in LibreOffice's program folder.
    install(FILES ${DECKRUN_DIST_DIR}/desktop/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME deckrun)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME deckrun)
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_PACKAGE_CONTACT "Deckrun support <${DECKRUN_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Print many presentation files in one run")
set(CPACK_PACKAGE_DESCRIPTION
    "Deckrun prints a queue of presentation files one after the other through\n\
LibreOffice Impress on a chosen CUPS printer, with a pause between files.\n\
The queue is built with the file dialog, from a folder tree, by drag and\n\
drop, or from the bundled samples.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${DECKRUN_HOME_PAGE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt and the C++ runtime come from the libraries the program links; what it
# starts or reads at run time is named here.
find_program(DECKRUN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DECKRUN_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(deckrun_qt_depends "")
else()
    set(deckrun_qt_depends "libqt6widgets6 (>= 6.4), libqt6printsupport6 (>= 6.4), libqt6gui6 (>= 6.4), ")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "${deckrun_qt_depends}libreoffice-impress, cups-client, libqpdf29 (>= 11), fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, printer-driver-cups-pdf")
include(CPack)

if(DECKRUN_BUILD_TESTS)
    add_test(NAME Install.ProgramFolderLauncherAndDesktopFiles
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                     -P ${CMAKE_CURRENT_LIST_DIR}/CheckInstall.cmake)
    set_tests_properties(Install.ProgramFolderLauncherAndDesktopFiles PROPERTIES LABELS integration)
endif()
