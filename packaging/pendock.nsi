; The Pendock installer: a per-user installation without elevation into
; %LOCALAPPDATA%\Programs\Pendock, a Start-menu shortcut and an entry in "Apps & features".
;
;   makensis -DVERSION=1.0.0.69 -DPROGRAM=Pendock.exe -DPROBE=pendock-probe.exe
;            -DLOCALE_DB=locale.db -DICON=Pendock.ico -DSIDEBAR=sidebar.bmp -DHEADER=header.bmp
;            -DOUTFILE=setup.exe [-DSIGN=sign-exe] pendock.nsi
;
; SIGN, when given, is a command that signs the file it is given in place: the installer and the
; uninstaller it carries are passed to it once written.
;
; The installer asks for the language of the program (and of itself and the uninstaller) first,
; offering the one of the last installation, else the user's Windows display language, English
; when that is none of the program's five. A new installation writes locale.xml with the chosen
; language; an update keeps the user's locale.xml unless another language is chosen.
;
; Silent: "setup.exe /S [/LANG=de-DE]" installs, in the language given (a code of locale.db, its
; first two letters or a Windows language number) or else as above; "uninstall.exe /S
; _?=<folder>", as the "Apps & features" entry names it, removes. Exit codes of both: 0 done,
; 1 cancelled, 2 refused because Pendock is running (files in use cannot be replaced or
; removed); the installer's 3: refused because a newer version is installed (asked when not
; silent). Without _?= an NSIS uninstaller runs on from a copy of itself in the temporary folder
; and its caller gets 0 at once, whatever happens.

!macro REQUIRE name
  !ifndef ${name}
    !error "-D${name}=... is missing (see the head of pendock.nsi)"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE PROGRAM
!insertmacro REQUIRE PROBE
!insertmacro REQUIRE LOCALE_DB
!insertmacro REQUIRE ICON
!insertmacro REQUIRE SIDEBAR
!insertmacro REQUIRE HEADER
!insertmacro REQUIRE OUTFILE

Unicode true
; Pendock.exe is a 64-bit program: the installer is one too.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel user

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Pendock"
!define PUBLISHER "Quorvento"
!define HELP_LINK "https://quorvento.example/pendock"
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
; The line above the buttons names the product, not the installer's maker.
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"

!ifdef SIGN
  !finalize '"${SIGN}" "%1"' = 0
  !uninstfinalize '"${SIGN}" "%1"' = 0
!endif

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SIDEBAR}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${SIDEBAR}"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_RIGHT
!define MUI_HEADERIMAGE_BITMAP "${HEADER}"
!define MUI_HEADERIMAGE_UNBITMAP "${HEADER}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Pendock.exe"

!define MUI_PAGE_CUSTOMFUNCTION_PRE Refusals
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!define MUI_PAGE_CUSTOMFUNCTION_PRE un.Refusals
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The languages of locale.db; the first is used where the user's is none of them.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Spanish"

LangString LANGDLL_TITLE ${LANG_ENGLISH} "Pendock - Language"
LangString LANGDLL_TITLE ${LANG_ITALIAN} "Pendock - Lingua"
LangString LANGDLL_TITLE ${LANG_GERMAN} "Pendock - Sprache"
LangString LANGDLL_TITLE ${LANG_FRENCH} "Pendock - Langue"
LangString LANGDLL_TITLE ${LANG_SPANISH} "Pendock - Idioma"
LangString LANGDLL_INFO ${LANG_ENGLISH} "The language of Pendock and of this installation:"
LangString LANGDLL_INFO ${LANG_ITALIAN} "La lingua di Pendock e di questa installazione:"
LangString LANGDLL_INFO ${LANG_GERMAN} "Die Sprache von Pendock und dieser Installation:"
LangString LANGDLL_INFO ${LANG_FRENCH} "La langue de Pendock et de cette installation :"
LangString LANGDLL_INFO ${LANG_SPANISH} "El idioma de Pendock y de esta instalación:"

LangString RUNNING ${LANG_ENGLISH} "Pendock is running. Close it, then start again."
LangString RUNNING ${LANG_ITALIAN} "Pendock è in esecuzione. Chiudilo e riprova."
LangString RUNNING ${LANG_GERMAN} "Pendock läuft gerade. Beenden Sie es und versuchen Sie es erneut."
LangString RUNNING ${LANG_FRENCH} "Pendock est en cours d'exécution. Fermez-le, puis recommencez."
LangString RUNNING ${LANG_SPANISH} "Pendock se está ejecutando. Ciérrelo y vuelva a intentarlo."

LangString NEWER ${LANG_ENGLISH} "Pendock $Installed is installed, newer than this version, ${VERSION}. Replace it with the older version?"
LangString NEWER ${LANG_ITALIAN} "È installato Pendock $Installed, più recente di questa versione, ${VERSION}. Sostituirlo con la versione precedente?"
LangString NEWER ${LANG_GERMAN} "Pendock $Installed ist installiert, neuer als diese Version, ${VERSION}. Durch die ältere Version ersetzen?"
LangString NEWER ${LANG_FRENCH} "Pendock $Installed est installé, plus récent que cette version, ${VERSION}. Le remplacer par la version plus ancienne ?"
LangString NEWER ${LANG_SPANISH} "Está instalado Pendock $Installed, más reciente que esta versión, ${VERSION}. ¿Reemplazarlo por la versión anterior?"

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

; The version installed before this one ran, and the language it was installed in (a Windows
; language number); both empty on a new installation.
Var Installed
Var InstalledLanguage
; The language offered in the dialog: locale.xml is written when another one is chosen.
Var Offered
; 1 once the uninstaller has removed the installation.
Var Removed

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

Function ${un}PendockRuns
  StrCpy $0 0
  Push "Global\${INSTANCE_ID}"
  Call ${un}SemaphoreExists
  Push "${INSTANCE_ID}"
  Call ${un}SemaphoreExists
FunctionEnd
!macroend
!insertmacro PENDOCK_RUNNING ""
!insertmacro PENDOCK_RUNNING "un."

; ---- Languages ------------------------------------------------------------------------------------
; $0: a language named on the command line (a code such as de-DE, its first two letters, or a
; Windows language number) becomes the installer's language; an unknown one changes nothing.
Function LanguageFromArgument
  StrCpy $1 $0 2
  ${If} $1 == "it"
  ${OrIf} $0 == ${LANG_ITALIAN}
    StrCpy $LANGUAGE ${LANG_ITALIAN}
  ${ElseIf} $1 == "en"
  ${OrIf} $0 == ${LANG_ENGLISH}
    StrCpy $LANGUAGE ${LANG_ENGLISH}
  ${ElseIf} $1 == "de"
  ${OrIf} $0 == ${LANG_GERMAN}
    StrCpy $LANGUAGE ${LANG_GERMAN}
  ${ElseIf} $1 == "fr"
  ${OrIf} $0 == ${LANG_FRENCH}
    StrCpy $LANGUAGE ${LANG_FRENCH}
  ${ElseIf} $1 == "es"
  ${OrIf} $0 == ${LANG_SPANISH}
    StrCpy $LANGUAGE ${LANG_SPANISH}
  ${EndIf}
FunctionEnd

; $0: the locale code of locale.db for the installer's language.
Function LocaleCode
  ${Select} $LANGUAGE
  ${Case} ${LANG_ITALIAN}
    StrCpy $0 "it-IT"
  ${Case} ${LANG_GERMAN}
    StrCpy $0 "de-DE"
  ${Case} ${LANG_FRENCH}
    StrCpy $0 "fr-FR"
  ${Case} ${LANG_SPANISH}
    StrCpy $0 "es-ES"
  ${CaseElse}
    StrCpy $0 "en-GB"
  ${EndSelect}
FunctionEnd

Function .onInit
  ; The current user's folders and Start menu, never all users'.
  SetShellVarContext current
  ReadRegStr $Installed HKCU "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $InstalledLanguage HKCU "${UNINSTALL_KEY}" "Language"

  ; $LANGUAGE starts as the Windows display language, or English.
  ${If} $InstalledLanguage != ""
    StrCpy $0 $InstalledLanguage
    Call LanguageFromArgument
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LANG=" $0
  ${IfNot} ${Errors}
    Call LanguageFromArgument
  ${EndIf}
  ; An update offers the language of the installation, so that keeping it keeps locale.xml.
  StrCpy $Offered $LANGUAGE
  ${If} $InstalledLanguage != ""
    StrCpy $Offered $InstalledLanguage
  ${EndIf}

  ${IfNot} ${Silent}
    LangDLL::LangDialog "$(LANGDLL_TITLE)" "$(LANGDLL_INFO)" A ${MUI_LANGDLL_LANGUAGES} ""
    Pop $LANGUAGE
    ${If} $LANGUAGE == "cancel"
      SetErrorLevel 1
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; The refusals, in the language chosen, which takes effect only once .onInit has returned: on
; the first page, or first thing when silent.
Function Refusals
  Call PendockRuns
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(RUNNING)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${If} $Installed != ""
    ${VersionCompare} "$Installed" "${VERSION}" $0
    ${If} $0 == 1
      MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(NEWER)" /SD IDNO IDYES replace
      SetErrorLevel 3
      Quit
      replace:
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Pendock" SecMain
  SectionIn RO
  ${If} ${Silent}
    Call Refusals
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=Pendock.exe" "${PROGRAM}"
  File "/oname=pendock-probe.exe" "${PROBE}"
  File "/oname=locale.db" "${LOCALE_DB}"
  ; The language chosen by editing locale.xml survives an update in which the language offered
  ; is kept.
  ${If} $LANGUAGE != $Offered
  ${OrIfNot} ${FileExists} "$INSTDIR\locale.xml"
    Call LocaleCode
    FileOpen $1 "$INSTDIR\locale.xml" w
    FileWrite $1 '<?xml version="1.0" encoding="UTF-8"?>$\r$\n'
    FileWrite $1 "<localization><locale>$0</locale></localization>$\r$\n"
    FileClose $1
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Pendock.exe" "" "$INSTDIR\Pendock.exe" 0

  ; The uninstaller runs where it is (_?=), so that its caller gets its exit code.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pendock.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "HelpLink" "${HELP_LINK}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${HELP_LINK}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Language" "$LANGUAGE"
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallDate" "$2$1$0"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; ---- Uninstaller ----------------------------------------------------------------------------------
; Windows keeps the file of a running program, and deletes one at the next start of the system
; only for an administrator. So the running uninstaller's own file and the folders that held it
; are left to a batch file in the temporary folder: it retries, once a second for up to a
; minute, until this process has ended and its file can go, removes the folders when they are
; empty, then itself. The paths reach it as arguments, so that any name works.
Function un.DeleteWhenEnded
  GetTempFileName $1
  Delete $1
  StrCpy $1 "$1.cmd"
  FileOpen $2 $1 w
  FileWrite $2 "@echo off$\r$\nset n=0$\r$\n:again$\r$\ndel /f /q %1 2>nul$\r$\n"
  FileWrite $2 "if not exist %1 goto done$\r$\nset /a n+=1$\r$\nif %n% geq 60 goto done$\r$\n"
  FileWrite $2 "ping -n 2 127.0.0.1 >nul$\r$\ngoto again$\r$\n:done$\r$\n"
  FileWrite $2 "rd %2 2>nul$\r$\nrd %3 2>nul$\r$\nrd %4 2>nul$\r$\ndel $\"%~f0$\"$\r$\n"
  FileClose $2
  ; Started in the temporary folder: the folder a program runs in cannot be removed.
  SetOutPath $TEMP
  ExecShell "" "$SYSDIR\cmd.exe" `/d /c ""$1" "$EXEPATH" "$EXEDIR" "$INSTDIR" "$LOCALAPPDATA\Programs""` SW_HIDE
FunctionEnd

Function un.onInit
  SetShellVarContext current
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "Language"
  ${If} $0 != ""
    StrCpy $LANGUAGE $0
  ${EndIf}
FunctionEnd

Function un.Refusals
  Call un.PendockRuns
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(RUNNING)" /SD IDOK
    ; The copy of itself that the uninstaller runs from the temporary folder, when it was not
    ; started where it is, goes too.
    ${If} $EXEDIR != $INSTDIR
      Call un.DeleteWhenEnded
    ${EndIf}
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Removes what the installer made, and the folders only when nothing else is left in them.
Section "Uninstall"
  ${If} ${Silent}
    Call un.Refusals
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\Pendock.exe"
  Delete "$INSTDIR\pendock-probe.exe"
  Delete "$INSTDIR\locale.db"
  Delete "$INSTDIR\locale.xml"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
  StrCpy $Removed 1
  ${If} ${Silent}
    Call un.DeleteWhenEnded
  ${EndIf}
SectionEnd

; Interactively, once the window closes: its last page waits for the user, however long.
Function un.onGUIEnd
  ${If} $Removed == 1
    Call un.DeleteWhenEnded
  ${EndIf}
FunctionEnd
