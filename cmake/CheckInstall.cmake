# Installs the build into a scratch prefix and checks what lands there: the
# program folder with the files the program looks for beside itself, a
# launcher that reaches the program, the desktop files and the icon.
#   cmake -DBUILD_DIR=... -P CheckInstall.cmake
execute_process(COMMAND mktemp -d OUTPUT_VARIABLE PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    file(REMOVE_RECURSE ${PREFIX})
    message(FATAL_ERROR "cmake --install failed")
endif()

set(id example.deckrun.Deckrun)
foreach(f lib/deckrun/deckrun lib/deckrun/HAND-M.CUR lib/deckrun/drag.ico lib/deckrun/x/o.cjs
          bin/deckrun share/applications/${id}.desktop share/metainfo/${id}.metainfo.xml
          share/icons/hicolor/48x48/apps/${id}.png share/icons/hicolor/256x256/apps/${id}.png
          share/icons/hicolor/scalable/apps/${id}.svg)
    if(NOT EXISTS ${PREFIX}/${f})
        list(APPEND problems "missing after install: ${f}")
    endif()
endforeach()
if(IS_DIRECTORY ${BUILD_DIR}/program/Samples AND NOT IS_DIRECTORY ${PREFIX}/lib/deckrun/Samples)
    list(APPEND problems "the samples were not installed beside the program")
endif()

# The launcher reaches the program: without a display the program itself says so.
execute_process(COMMAND env -u QT_QPA_PLATFORM DISPLAY= WAYLAND_DISPLAY= ${PREFIX}/bin/deckrun
                RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET TIMEOUT 30)
if(NOT rc EQUAL 2 OR NOT err MATCHES "graphical display")
    list(APPEND problems "the launcher did not start the program (${rc}): ${err}")
endif()

# "Open With Deckrun": the desktop file hands the chosen files to the program
# and names presentation types the system knows.
file(STRINGS ${PREFIX}/share/applications/${id}.desktop exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=deckrun %F")
    list(APPEND problems "desktop file: ${exec} does not hand over the chosen files")
endif()
file(STRINGS ${PREFIX}/share/applications/${id}.desktop mime REGEX "^MimeType=")
string(REGEX REPLACE "^MimeType=" "" mime "${mime}")
string(REGEX MATCHALL "[a-z0-9.+-]+/[a-zA-Z0-9.+-]+" mime "${mime}")
foreach(type IN LISTS mime)
    if(type AND IS_DIRECTORY /usr/share/mime/application AND NOT EXISTS /usr/share/mime/${type}.xml)
        list(APPEND problems "desktop file: unknown MIME type ${type}")
    endif()
endforeach()

find_program(validate_desktop desktop-file-validate)
if(validate_desktop)
    execute_process(COMMAND ${validate_desktop} ${PREFIX}/share/applications/${id}.desktop
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        list(APPEND problems "desktop file: ${out}")
    endif()
endif()
find_program(appstreamcli appstreamcli)
if(appstreamcli)
    execute_process(COMMAND ${appstreamcli} validate --no-net ${PREFIX}/share/metainfo/${id}.metainfo.xml
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        list(APPEND problems "metainfo: ${out}")
    endif()
endif()
file(REMOVE_RECURSE ${PREFIX})
if(problems)
    list(JOIN problems "\n" text)
    message(FATAL_ERROR "${text}")
endif()
