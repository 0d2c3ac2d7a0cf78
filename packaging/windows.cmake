# The Windows program as a user gets it, in <build>/package/:
#   Pendock-<version>-setup.exe     the NSIS installer (target pendock_setup)
#   Pendock-<version>-portable.zip  Pendock.exe with locale.db and locale.xml in a folder Pendock
#                                   (target pendock_portable)
# Both take SOURCE_DATE_EPOCH, when it is set, as the time they record.
find_program(MAKENSIS makensis REQUIRED)
find_program(ZIP zip REQUIRED)

set(PENDOCK_PACKAGE_DIR ${PROJECT_BINARY_DIR}/package)
# The program's icon, drawn by the app folder's build (target pendock_icon).
set(PENDOCK_ICO ${PROJECT_BINARY_DIR}/app/icons/Pendock.ico)

# The program ships without its symbols.
set(PENDOCK_SHIPPED_EXE ${PENDOCK_PACKAGE_DIR}/stage/Pendock.exe)
add_custom_command(
  OUTPUT ${PENDOCK_SHIPPED_EXE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PENDOCK_PACKAGE_DIR}/stage
  COMMAND ${CMAKE_STRIP} -o ${PENDOCK_SHIPPED_EXE} $<TARGET_FILE:Pendock>
  DEPENDS $<TARGET_FILE:Pendock>
  VERBATIM)
add_custom_target(pendock_shipped_exe DEPENDS ${PENDOCK_SHIPPED_EXE})

# pendock_installer(TARGET OUTPUT VERSION LOCALE_DB): a target that makes the installer OUTPUT
# of the shipped program with that version and locale.db (the tests make an older one too).
function(pendock_installer target output version locale_db)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${version}
            -DPROGRAM=${PENDOCK_SHIPPED_EXE} -DLOCALE_DB=${locale_db}
            -DLOCALE_XML=${PENDOCK_LOCALE_XML} -DICON=${PENDOCK_ICO} -DOUTFILE=${output}
            ${PROJECT_SOURCE_DIR}/packaging/pendock.nsi
    DEPENDS ${PENDOCK_SHIPPED_EXE} ${locale_db} ${PENDOCK_LOCALE_XML} ${PENDOCK_ICO}
            ${PROJECT_SOURCE_DIR}/packaging/pendock.nsi
    COMMENT "Making the installer ${output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  add_dependencies(${target} pendock_shipped_exe pendock_locale pendock_icon)
endfunction()

set(PENDOCK_SETUP ${PENDOCK_PACKAGE_DIR}/Pendock-${PROJECT_VERSION}-setup.exe)
pendock_installer(pendock_setup ${PENDOCK_SETUP} ${PROJECT_VERSION} ${PENDOCK_LOCALE_DB})

set(PENDOCK_PORTABLE ${PENDOCK_PACKAGE_DIR}/Pendock-${PROJECT_VERSION}-portable.zip)
set(inputs ${PENDOCK_SHIPPED_EXE} ${PENDOCK_LOCALE_DB} ${PENDOCK_LOCALE_XML})
add_custom_command(
  OUTPUT ${PENDOCK_PORTABLE}
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/portable-zip ${PENDOCK_PORTABLE} Pendock ${inputs}
  DEPENDS ${inputs} ${CMAKE_CURRENT_SOURCE_DIR}/portable-zip
  COMMENT "Making the archive ${PENDOCK_PORTABLE}"
  VERBATIM)
add_custom_target(pendock_portable ALL DEPENDS ${PENDOCK_PORTABLE})
add_dependencies(pendock_portable pendock_shipped_exe pendock_locale)

# For the tests of the packages (pendock_installer() needs the first two where it is called).
set(PENDOCK_ICO ${PENDOCK_ICO} PARENT_SCOPE)
set(PENDOCK_SHIPPED_EXE ${PENDOCK_SHIPPED_EXE} PARENT_SCOPE)
set(PENDOCK_SETUP ${PENDOCK_SETUP} PARENT_SCOPE)
set(PENDOCK_PORTABLE ${PENDOCK_PORTABLE} PARENT_SCOPE)
