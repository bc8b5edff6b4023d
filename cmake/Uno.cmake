# The LibreOffice backend of the presentation application (src/platform/uno).
# Included from src/CMakeLists.txt when DECKRUN_WITH_UNO is on and the system
# is not Windows. The C++ headers of the office API are generated from the
# installed type libraries with cppumaker at build time; nothing is added when
# the SDK is missing, and Deckrun then says at start-up that it has no office.

set(DECKRUN_LO_DIR "/usr/lib/libreoffice" CACHE PATH "LibreOffice installation folder")
set(deckrun_lo_program "${DECKRUN_LO_DIR}/program")
set(deckrun_lo_sdk "${DECKRUN_LO_DIR}/sdk")

find_program(DECKRUN_CPPUMAKER cppumaker HINTS "${deckrun_lo_sdk}/bin" NO_DEFAULT_PATH)
find_file(DECKRUN_TYPES_RDB types.rdb HINTS "${deckrun_lo_program}" NO_DEFAULT_PATH)
find_file(DECKRUN_OFFAPI_RDB offapi.rdb HINTS "${deckrun_lo_program}/types" NO_DEFAULT_PATH)
find_path(DECKRUN_UNO_INCLUDE sal/config.h HINTS "${deckrun_lo_sdk}/include" NO_DEFAULT_PATH)
find_library(DECKRUN_UNO_CPPUHELPER uno_cppuhelpergcc3 HINTS "${deckrun_lo_sdk}/lib" NO_DEFAULT_PATH)
find_library(DECKRUN_UNO_CPPU uno_cppu HINTS "${deckrun_lo_sdk}/lib" NO_DEFAULT_PATH)
find_library(DECKRUN_UNO_SAL uno_sal HINTS "${deckrun_lo_sdk}/lib" NO_DEFAULT_PATH)

foreach(what DECKRUN_CPPUMAKER DECKRUN_TYPES_RDB DECKRUN_OFFAPI_RDB DECKRUN_UNO_INCLUDE
        DECKRUN_UNO_CPPUHELPER DECKRUN_UNO_CPPU DECKRUN_UNO_SAL)
    if(NOT ${what})
        message(WARNING "LibreOffice SDK incomplete (${what} not found): building without the UNO backend. "
                        "Install libreoffice-impress and libreoffice-dev.")
        return()
    endif()
endforeach()

# Every type the backend uses; cppumaker adds what they depend on.
set(deckrun_uno_types
    com.sun.star.uno.XWeak
    com.sun.star.uno.XAggregation
    com.sun.star.uno.XComponentContext
    com.sun.star.uno.DeploymentException
    com.sun.star.uno.RuntimeException
    com.sun.star.lang.XTypeProvider
    com.sun.star.lang.XComponent
    com.sun.star.lang.XMultiComponentFactory
    com.sun.star.lang.XMultiServiceFactory
    com.sun.star.lang.XServiceInfo
    com.sun.star.lang.DisposedException
    com.sun.star.lang.IllegalArgumentException
    com.sun.star.lang.EventObject
    com.sun.star.beans.PropertyValue
    com.sun.star.beans.NamedValue
    com.sun.star.beans.XPropertySet
    com.sun.star.bridge.UnoUrlResolver
    com.sun.star.bridge.XUnoUrlResolver
    com.sun.star.connection.NoConnectException
    com.sun.star.connection.ConnectionSetupException
    com.sun.star.container.XNameAccess
    com.sun.star.container.XNameReplace
    com.sun.star.configuration.theDefaultProvider
    com.sun.star.document.MacroExecMode
    com.sun.star.document.UpdateDocMode
    com.sun.star.frame.Desktop
    com.sun.star.frame.XDesktop2
    com.sun.star.frame.XComponentLoader
    com.sun.star.frame.XLoadable
    com.sun.star.document.XTypeDetection
    com.sun.star.awt.XPrinterServer
    com.sun.star.lang.XMultiComponentFactory
    com.sun.star.frame.XStorable
    com.sun.star.io.IOException
    com.sun.star.task.XInteractionHandler
    com.sun.star.task.XInteractionRequest
    com.sun.star.task.XInteractionAbort
    com.sun.star.task.XInteractionContinuation
    com.sun.star.task.PasswordRequest
    com.sun.star.drawing.XDrawPagesSupplier
    com.sun.star.drawing.XDrawPages
    com.sun.star.container.XIndexAccess
    com.sun.star.container.XEnumerationAccess
    com.sun.star.container.XEnumeration
    com.sun.star.text.XTextRange
    com.sun.star.util.XChangesBatch
    com.sun.star.util.XCloseable
    com.sun.star.view.XPrintable
    com.sun.star.view.XPrintJobBroadcaster
    com.sun.star.view.XPrintJobListener
    com.sun.star.view.PrintableState
    com.sun.star.view.PrintJobEvent)
list(JOIN deckrun_uno_types ";" deckrun_uno_type_arg)

# cppumaker wants an absolute output folder.
set(deckrun_uno_generated "${CMAKE_BINARY_DIR}/uno-generated")
set(deckrun_uno_stamp "${deckrun_uno_generated}/.stamp")
add_custom_command(
    OUTPUT "${deckrun_uno_stamp}"
    COMMAND ${CMAKE_COMMAND} -E remove_directory "${deckrun_uno_generated}/com"
    COMMAND "${DECKRUN_CPPUMAKER}" -Gc "-O${deckrun_uno_generated}" "-T${deckrun_uno_type_arg}"
            "${DECKRUN_TYPES_RDB}" "${DECKRUN_OFFAPI_RDB}"
    COMMAND ${CMAKE_COMMAND} -E touch "${deckrun_uno_stamp}"
    DEPENDS "${DECKRUN_TYPES_RDB}" "${DECKRUN_OFFAPI_RDB}" "${CMAKE_CURRENT_LIST_FILE}"
    COMMENT "Generating the office API headers with cppumaker"
    VERBATIM)
add_custom_target(deckrun_uno_headers DEPENDS "${deckrun_uno_stamp}")

file(GLOB deckrun_uno_sources CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/platform/uno/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/platform/uno/*.h)
target_sources(deckrun_platform PRIVATE ${deckrun_uno_sources})
add_dependencies(deckrun_platform deckrun_uno_headers)

# The office headers only concern the backend's own files; SYSTEM keeps their
# warnings out of the warnings-as-errors build.
set_source_files_properties(${deckrun_uno_sources} PROPERTIES
    COMPILE_DEFINITIONS "LINUX;UNX;GCC;CPPU_ENV=gcc3")
target_include_directories(deckrun_platform SYSTEM PRIVATE "${deckrun_uno_generated}" "${DECKRUN_UNO_INCLUDE}")
target_compile_definitions(deckrun_platform PRIVATE
    DECKRUN_LO_PROGRAM_DIR="${deckrun_lo_program}")

target_link_libraries(deckrun_platform PUBLIC
    ${DECKRUN_UNO_CPPUHELPER} ${DECKRUN_UNO_CPPU} ${DECKRUN_UNO_SAL}
    "-Wl,-rpath-link,${deckrun_lo_program}" "-Wl,-rpath,${deckrun_lo_program}")

# zlib inflates the settings parts the backend reads from a deck's package
# itself (ZipEntry); public, as the tests write such packages with it.
find_package(ZLIB REQUIRED)
target_link_libraries(deckrun_platform PUBLIC ZLIB::ZLIB)

# Lets tests and benchmarks know the backend is built in.
target_compile_definitions(deckrun_platform PUBLIC DECKRUN_HAS_UNO=1)

set(DECKRUN_UNO_ENABLED ON)
set(DECKRUN_UNO_ENABLED ON PARENT_SCOPE)
