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
          share/icons/hicolor/scalable/apps/${id}.svg share/man/man1/deckrun.1.gz
          share/doc/deckrun/changelog.gz)
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
string(REGEX MATCHALL "[a-z0-9.+-]+/[a-zA-Z0-9.+-]+" mime "${mime}")
foreach(type IN LISTS mime)
    if(IS_DIRECTORY /usr/share/mime/application AND NOT EXISTS /usr/share/mime/${type}.xml)
        list(APPEND problems "desktop file: unknown MIME type ${type}")
    endif()
endforeach()

# The validators of the desktop file and the metainfo (scripts/setup.sh --dev
# installs them).
find_program(validate_desktop desktop-file-validate)
find_program(appstreamcli appstreamcli)
if(NOT validate_desktop OR NOT appstreamcli)
    list(APPEND problems "desktop-file-validate or appstreamcli is missing (scripts/setup.sh --dev)")
endif()
if(validate_desktop)
    execute_process(COMMAND ${validate_desktop} ${PREFIX}/share/applications/${id}.desktop
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR out MATCHES "error|warning")
        list(APPEND problems "desktop file: ${out}")
    endif()
endif()
if(appstreamcli)
    execute_process(COMMAND ${appstreamcli} validate --no-net ${PREFIX}/share/metainfo/${id}.metainfo.xml
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
        list(APPEND problems "metainfo: ${out}")
    endif()
endif()

# The metainfo shows the screenshots of docs/, at their real size.
file(READ ${PREFIX}/share/metainfo/${id}.metainfo.xml metainfo)
string(REGEX MATCHALL "<image[^>]*>[^<]*</image>" images "${metainfo}")
if(NOT images)
    list(APPEND problems "metainfo: no screenshots")
endif()
foreach(image IN LISTS images)
    string(REGEX REPLACE ".*/([^/<]+)</image>$" "\\1" picture "${image}")
    set(shot ${CMAKE_CURRENT_LIST_DIR}/../docs/${picture})
    if(NOT EXISTS ${shot})
        list(APPEND problems "metainfo: screenshot ${picture} is not one of docs/")
        continue()
    endif()
    # A PNG's width and height are the two big-endian numbers at byte 16.
    file(READ ${shot} size OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING "${size}" 0 8 w)
    string(SUBSTRING "${size}" 8 8 h)
    math(EXPR w "0x${w}")
    math(EXPR h "0x${h}")
    if(NOT image MATCHES "width=\"${w}\" height=\"${h}\"")
        list(APPEND problems "metainfo: ${picture} is ${w} by ${h} pixels: ${image}")
    endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
if(problems)
    list(JOIN problems "\n" text)
    message(FATAL_ERROR "${text}")
endif()
