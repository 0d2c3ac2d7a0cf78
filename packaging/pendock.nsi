; The Pendock installer: a per-user installation without elevation into
; %LOCALAPPDATA%\Programs\Pendock, a Start-menu shortcut and an entry in "Apps & features".
;
;   makensis -DVERSION=1.0.0.69 -DPROGRAM=Pendock.exe -DLOCALE_DB=locale.db
;            -DLOCALE_XML=locale.xml -DICON=Pendock.ico -DOUTFILE=setup.exe pendock.nsi
;
; Silent: "setup.exe /S" installs, "uninstall.exe /S" removes. Exit codes: 0 done, 1 cancelled,
; 2 refused because Pendock is running (files in use cannot be replaced or removed).

!macro REQUIRE name
  !ifndef ${name}
    !error "-D${name}=... is missing (see the head of pendock.nsi)"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE PROGRAM
!insertmacro REQUIRE LOCALE_DB
!insertmacro REQUIRE LOCALE_XML
!insertmacro REQUIRE ICON
!insertmacro REQUIRE OUTFILE

Unicode true
; Pendock.exe is a 64-bit program: the installer is one too.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel user

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Pendock"
!define PUBLISHER "Quorvento"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The name of the program's single-instance semaphore.
!define INSTANCE_ID "{888D4D22-EDB2-4D13-A098-88CF11E0EECB}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An installation over an older one goes where that one is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
; The files get the time of their installation: the installer holds no time of the build.
SetDateSave off
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Pendock.exe"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The languages of the program's texts; the first is used where the user's is none of them.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Spanish"

LangString RUNNING ${LANG_ENGLISH} "Pendock is running. Close it, then start again."
LangString RUNNING ${LANG_ITALIAN} "Pendock è in esecuzione. Chiudilo e riprova."
LangString RUNNING ${LANG_GERMAN} "Pendock läuft gerade. Beenden Sie es und versuchen Sie es erneut."
LangString RUNNING ${LANG_FRENCH} "Pendock est en cours d'exécution. Fermez-le, puis recommencez."
LangString RUNNING ${LANG_SPANISH} "Pendock se está ejecutando. Ciérrelo y vuelva a intentarlo."

; The installer's own version record, in the program's language.
VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ITALIAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ITALIAN} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ITALIAN} "FileDescription" "Pendock Setup"
VIAddVersionKey /LANG=${LANG_ITALIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ITALIAN} "ProductVersion" "1.0"
VIAddVersionKey /LANG=${LANG_ITALIAN} "LegalCopyright" "Copyright (C) ${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ITALIAN} "OriginalFilename" "Pendock-${VERSION}-setup.exe"

; Leaves 1 in $0 when a copy of Pendock runs (for this or another user): its semaphore exists,
; under the machine-wide name or under the bare one the program falls back to.
!macro PENDOCK_RUNNING un
Function ${un}SemaphoreExists
  Exch $1
  ; SYNCHRONIZE access is enough to learn that it exists.
  System::Call 'kernel32::OpenSemaphoreW(i 0x00100000, i 0, w r1) p .r1'
  ${If} $1 != 0
    System::Call 'kernel32::CloseHandle(p r1)'
    StrCpy $0 1
  ${EndIf}
  Pop $1
FunctionEnd

Function ${un}RefuseWhileRunning
  StrCpy $0 0
  Push "Global\${INSTANCE_ID}"
  Call ${un}SemaphoreExists
  Push "${INSTANCE_ID}"
  Call ${un}SemaphoreExists
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(RUNNING)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro PENDOCK_RUNNING ""
!insertmacro PENDOCK_RUNNING "un."

Function .onInit
  ; The current user's folders and Start menu, never all users'.
  SetShellVarContext current
  Call RefuseWhileRunning
FunctionEnd

Section "Pendock" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=Pendock.exe" "${PROGRAM}"
  File "/oname=locale.db" "${LOCALE_DB}"
  ; The language the user may have chosen by editing locale.xml survives an update.
  SetOverwrite off
  File "/oname=locale.xml" "${LOCALE_XML}"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Pendock.exe" "" "$INSTDIR\Pendock.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pendock.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function un.onInit
  SetShellVarContext current
  Call un.RefuseWhileRunning
FunctionEnd

; Removes what the installer made, and the folders only when nothing else is left in them.
Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\Pendock.exe"
  Delete "$INSTDIR\locale.db"
  Delete "$INSTDIR\locale.xml"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
  ; This runs from a copy of the uninstaller in a temporary folder, which cannot delete itself
  ; while it runs. NSIS asks for the folder, then the copy, to be deleted at the next start of
  ; Windows, where the folder, not yet empty, stays; asking once more in the other order takes
  ; both. (Windows grants this to elevated processes only: otherwise both stay in %TEMP%.)
  ${If} $EXEDIR != $INSTDIR
    Delete /REBOOTOK "$EXEPATH"
    RMDir /REBOOTOK "$EXEDIR"
  ${EndIf}
SectionEnd
