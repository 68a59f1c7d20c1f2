; The Windows installer, built on Linux with NSIS by the build's `installer`
; target (cmake/nsis_installer.cmake), which defines:
;   VERSION  the project's version       STAGE   the installed tree (cmake --install)
;   OUTFILE  the setup program to write  FILES   the generated list of files (File and Delete lines)
;
; Run as an administrator it installs for every user under Program Files and
; puts the bin folder on the machine's PATH; otherwise (or with /CurrentUser)
; for the current user, under the user's programs folder and PATH. /S installs
; and uninstalls silently. The uninstaller is registered in the list of
; installed programs and removes the files, the PATH entry and its own
; registration.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT kelvoprog
!define PUBLISHER "The kelvoprog authors"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define MACHINE_ENVIRONMENT "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define USER_ENVIRONMENT "Environment"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR ${PRODUCT}
; The uninstaller finds the mode of the installation from its registration.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME InstallLocation
!include MultiUser.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
LicenseData "${STAGE}/LICENSE"
ShowInstDetails show
ShowUninstDetails show

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var EnvironmentKey  ; the PATH's key for this mode (under SHCTX)
Var PathEntry       ; $INSTDIR\bin

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; The PATH of the mode chosen (SHCTX is HKLM for every user, HKCU otherwise).
!macro EnvironmentKeyOfMode
  ${If} $MultiUser.InstallMode == AllUsers
    StrCpy $EnvironmentKey "${MACHINE_ENVIRONMENT}"
  ${Else}
    StrCpy $EnvironmentKey "${USER_ENVIRONMENT}"
  ${EndIf}
!macroend

; PathWithout LIST ENTRY -> LIST without every element equal to ENTRY (letter
; case and a final backslash aside); sets the error flag when one was found.
!macro PathWithoutFunction PREFIX
Function ${PREFIX}PathWithout
  Exch $R1  ; entry
  Exch
  Exch $R0  ; list
  Push $R2  ; the list left to walk
  Push $R3  ; one element
  Push $R4  ; the list being built
  Push $R5  ; index
  Push $R6  ; one character
  ClearErrors
  StrCpy $R2 $R0
  StrCpy $R4 ""
  ${DoWhile} $R2 != ""
    StrCpy $R5 0
    ${Do}
      StrCpy $R6 $R2 1 $R5
      ${IfThen} $R6 == "" ${|} ${ExitDo} ${|}
      ${IfThen} $R6 == ";" ${|} ${ExitDo} ${|}
      IntOp $R5 $R5 + 1
    ${Loop}
    StrCpy $R3 $R2 $R5
    IntOp $R5 $R5 + 1
    StrCpy $R2 $R2 "" $R5
    ${If} $R3 == $R1
    ${OrIf} $R3 == "$R1\"
      SetErrors
    ${ElseIf} $R4 == ""
      StrCpy $R4 $R3
    ${Else}
      StrCpy $R4 "$R4;$R3"
    ${EndIf}
  ${Loop}
  StrCpy $R0 $R4
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro PathWithoutFunction ""
!insertmacro PathWithoutFunction "un."

; Tells running programs (Explorer, new consoles) that the environment changed.
!macro EnvironmentChanged
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

Section "kelvoprog"
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Registration in the list of installed programs.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayName "${PRODUCT} ${VERSION} (Kelvo Programmer)"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoRepair 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" EstimatedSize $0

  ; bin on the PATH, once. A value as long as NSIS's strings would come back
  ; cut, and writing it back would lose the rest: such a PATH is left alone.
  !insertmacro EnvironmentKeyOfMode
  StrCpy $PathEntry "$INSTDIR\bin"
  ReadRegStr $0 SHCTX $EnvironmentKey "Path"
  StrLen $1 "$0;$PathEntry"
  ${If} $1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "The PATH is too long to be changed here: add $PathEntry to it by hand."
  ${Else}
    Push $0
    Push $PathEntry
    Call PathWithout
    Pop $2
    ${IfNot} ${Errors}
      ${If} $0 == ""
        StrCpy $0 $PathEntry
      ${Else}
        StrCpy $0 "$0;$PathEntry"
      ${EndIf}
      WriteRegExpandStr SHCTX $EnvironmentKey "Path" $0
      !insertmacro EnvironmentChanged
      DetailPrint "Added $PathEntry to the PATH."
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  !insertmacro EnvironmentKeyOfMode
  StrCpy $PathEntry "$INSTDIR\bin"
  ReadRegStr $0 SHCTX $EnvironmentKey "Path"
  StrLen $1 $0
  IntOp $1 $1 + 1
  ${If} $1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "The PATH is too long to be changed here: remove $PathEntry from it by hand."
  ${Else}
    Push $0
    Push $PathEntry
    Call un.PathWithout
    Pop $2
    ${If} ${Errors}
      ${If} $2 == ""
        DeleteRegValue SHCTX $EnvironmentKey "Path"
      ${Else}
        WriteRegExpandStr SHCTX $EnvironmentKey "Path" $2
      ${EndIf}
      !insertmacro EnvironmentChanged
    ${EndIf}
  ${EndIf}

  !define UNINSTALLING
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
