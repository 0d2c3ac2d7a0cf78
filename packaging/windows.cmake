# The Windows program as a user gets it, in <build>/package/:
#   Pendock-<version>-setup.exe     the NSIS installer (target pendock_setup)
#   Pendock-<version>-portable.zip  Pendock.exe and pendock-probe.exe with locale.db, locale.xml
#                                   and README.txt in a folder Pendock (target pendock_portable)
# Both take SOURCE_DATE_EPOCH, when it is set, as the time they record. The programs, the
# installer and its uninstaller are signed when a certificate is given at build time
# (packaging/sign-exe names the variables); the same files, unsigned, otherwise.
find_program(MAKENSIS makensis REQUIRED)
find_program(ZIP zip REQUIRED)
find_program(CONVERT convert REQUIRED)

set(PENDOCK_PACKAGE_DIR ${PROJECT_BINARY_DIR}/package)
set(PENDOCK_STAGE_DIR ${PENDOCK_PACKAGE_DIR}/stage)
set(PENDOCK_SIGN_EXE ${CMAKE_CURRENT_SOURCE_DIR}/sign-exe)
# The program's icon, drawn by the app folder's build (target pendock_icon).
set(PENDOCK_ICO ${PROJECT_BINARY_DIR}/app/icons/Pendock.ico)

if(DEFINED ENV{PENDOCK_SIGN_PKCS12})
  message(STATUS "Windows packages: signed with $ENV{PENDOCK_SIGN_PKCS12}")
else()
  message(STATUS "Windows packages: unsigned (no PENDOCK_SIGN_PKCS12)")
endif()

# The programs ship without their symbols, signed before they are packed.
set(PENDOCK_SHIPPED_EXE ${PENDOCK_STAGE_DIR}/Pendock.exe)
set(PENDOCK_SHIPPED_PROBE ${PENDOCK_STAGE_DIR}/pendock-probe.exe)
foreach(program Pendock pendock-probe)
  set(shipped ${PENDOCK_STAGE_DIR}/${program}.exe)
  add_custom_command(
    OUTPUT ${shipped}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PENDOCK_STAGE_DIR}
    COMMAND ${CMAKE_STRIP} -o ${shipped} $<TARGET_FILE:${program}>
    COMMAND ${PENDOCK_SIGN_EXE} ${shipped}
    DEPENDS $<TARGET_FILE:${program}> ${PENDOCK_SIGN_EXE}
    VERBATIM)
endforeach()
add_custom_target(pendock_shipped_exe DEPENDS ${PENDOCK_SHIPPED_EXE} ${PENDOCK_SHIPPED_PROBE})

# The installer's pictures, drawn from the icon's shapes: the side picture of the first and last
# pages and the header's, as the uncompressed bitmaps NSIS takes.
set(PENDOCK_INSTALLER_BMPS)
foreach(picture sidebar header)
  set(svg ${CMAKE_CURRENT_SOURCE_DIR}/art/installer-${picture}.svg)
  set(bmp ${PENDOCK_STAGE_DIR}/installer-${picture}.bmp)
  add_custom_command(
    OUTPUT ${bmp}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PENDOCK_STAGE_DIR}
    COMMAND ${RSVG_CONVERT} --format=png -o ${bmp}.png ${svg}
    COMMAND ${CONVERT} ${bmp}.png -background white -alpha remove -type TrueColor BMP3:${bmp}
    DEPENDS ${svg}
    COMMENT "Drawing the installer's ${picture} picture"
    VERBATIM)
  list(APPEND PENDOCK_INSTALLER_BMPS ${bmp})
endforeach()
add_custom_target(pendock_installer_bmps DEPENDS ${PENDOCK_INSTALLER_BMPS})

# What every installer is made with besides its programs, version and locale.db (the signing
# test makes one of signed programs with it).
set(PENDOCK_NSIS_ARGS -V2 -INPUTCHARSET UTF8 -DICON=${PENDOCK_ICO}
    -DSIDEBAR=${PENDOCK_STAGE_DIR}/installer-sidebar.bmp
    -DHEADER=${PENDOCK_STAGE_DIR}/installer-header.bmp -DSIGN=${PENDOCK_SIGN_EXE})

# pendock_installer(TARGET OUTPUT VERSION LOCALE_DB): a target that makes the installer OUTPUT
# of the shipped programs with that version and locale.db (the tests make an older one too).
function(pendock_installer target output version locale_db)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${MAKENSIS} ${PENDOCK_NSIS_ARGS} -DVERSION=${version}
            -DPROGRAM=${PENDOCK_SHIPPED_EXE} -DPROBE=${PENDOCK_SHIPPED_PROBE}
            -DLOCALE_DB=${locale_db} -DOUTFILE=${output} ${PROJECT_SOURCE_DIR}/packaging/pendock.nsi
    DEPENDS ${PENDOCK_SHIPPED_EXE} ${PENDOCK_SHIPPED_PROBE} ${locale_db} ${PENDOCK_ICO}
            ${PENDOCK_INSTALLER_BMPS} ${PENDOCK_SIGN_EXE} ${PROJECT_SOURCE_DIR}/packaging/pendock.nsi
    COMMENT "Making the installer ${output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  add_dependencies(${target} pendock_shipped_exe pendock_installer_bmps pendock_locale
                   pendock_icon)
endfunction()

set(PENDOCK_SETUP ${PENDOCK_PACKAGE_DIR}/Pendock-${PROJECT_VERSION}-setup.exe)
pendock_installer(pendock_setup ${PENDOCK_SETUP} ${PROJECT_VERSION} ${PENDOCK_LOCALE_DB})

set(PENDOCK_PORTABLE ${PENDOCK_PACKAGE_DIR}/Pendock-${PROJECT_VERSION}-portable.zip)
set(inputs ${PENDOCK_SHIPPED_EXE} ${PENDOCK_SHIPPED_PROBE} ${PENDOCK_LOCALE_DB}
           ${PENDOCK_LOCALE_XML} ${CMAKE_CURRENT_SOURCE_DIR}/README.txt)
add_custom_command(
  OUTPUT ${PENDOCK_PORTABLE}
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/portable-zip ${PENDOCK_PORTABLE} Pendock ${inputs}
  DEPENDS ${inputs} ${CMAKE_CURRENT_SOURCE_DIR}/portable-zip
  COMMENT "Making the archive ${PENDOCK_PORTABLE}"
  VERBATIM)
add_custom_target(pendock_portable ALL DEPENDS ${PENDOCK_PORTABLE})
add_dependencies(pendock_portable pendock_shipped_exe pendock_locale)

# For the tests of the packages (pendock_installer() needs these where it is called).
set(PENDOCK_ICO ${PENDOCK_ICO} PARENT_SCOPE)
set(PENDOCK_NSIS_ARGS "${PENDOCK_NSIS_ARGS}" PARENT_SCOPE)
set(PENDOCK_SIGN_EXE ${PENDOCK_SIGN_EXE} PARENT_SCOPE)
set(PENDOCK_INSTALLER_BMPS ${PENDOCK_INSTALLER_BMPS} PARENT_SCOPE)
set(PENDOCK_SHIPPED_EXE ${PENDOCK_SHIPPED_EXE} PARENT_SCOPE)
set(PENDOCK_SHIPPED_PROBE ${PENDOCK_SHIPPED_PROBE} PARENT_SCOPE)
set(PENDOCK_SETUP ${PENDOCK_SETUP} PARENT_SCOPE)
set(PENDOCK_PORTABLE ${PENDOCK_PORTABLE} PARENT_SCOPE)
