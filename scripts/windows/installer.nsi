; The Windows installer (Debian's nsis, makensis): both programs into Program
; Files (with the emulator, unicorn.dll, and the licences folder), a Start-menu
; entry in Russian and an uninstaller that removes all it installed, the
; per-user NASM copies included. /S installs and uninstalls silently.
;   makensis -INPUTCHARSET UTF8 -DVERSION=0.1.0 -DSOURCE=folder -DOUTFILE=setup.exe installer.nsi
; A 64-bit installer: the programs are 64-bit, and so is every system it can serve.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "x64.nsh"

!define PRODUCT "Orvandine Converter"
!define MENU_ENTRY "Конвертер ассемблера Orvandine"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvandineConverter"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\orvandine-converter.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

;; A running program holds its files: Windows would let neither a new copy
;; nor the uninstaller replace them, and a half-removed folder would be left
;; with no uninstaller. Both wait until the programs are closed (a running
;; program's file does not open for writing), or stop with exit code 2.
!macro BUSY_IF_RUNNING FILE
  ${If} ${FileExists} "$INSTDIR\${FILE}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${FILE}" a
    ${If} ${Errors}
      StrCpy $1 "busy"
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
!macroend
!macro PROGRAMS_CLOSED UN
Function ${UN}ProgramsClosed
  retry:
  StrCpy $1 ""
  !insertmacro BUSY_IF_RUNNING "orvandine-converter.exe"
  !insertmacro BUSY_IF_RUNNING "orvandine-convert.exe"
  !insertmacro BUSY_IF_RUNNING "orvandine-trial.exe"
  ${If} $1 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} сейчас работает. Закройте все его окна и нажмите «Повтор»." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro PROGRAMS_CLOSED ""
!insertmacro PROGRAMS_CLOSED "un."

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Программа работает только в 64-разрядной Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
  Call un.ProgramsClosed
FunctionEnd

Section "Программа"
  SetShellVarContext all
  Call ProgramsClosed
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${MENU_ENTRY}.lnk" "$INSTDIR\orvandine-converter.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Удалить ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Zentaro Software"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvandine-converter.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${MENU_ENTRY}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Удалить ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  ; Everything the installer put there, and the hidden NASM copy a program
  ; run with the right to write here may have left.
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\imageformats"
  RMDir /r "$INSTDIR\translations"
  RMDir /r "$INSTDIR\licenses"
  ; Qt's and MinGW's DLLs, and the emulator, unicorn.dll.
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\orvandine-convert.exe"
  Delete "$INSTDIR\orvandine-converter.exe"
  Delete "$INSTDIR\orvandine-trial.exe"
  Delete "$INSTDIR\nasmw.exe"
  Delete "$INSTDIR\qt.conf"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The per-user NASM copy of the user who uninstalls.
  SetShellVarContext current
  Delete "$LOCALAPPDATA\orvandine-converter\nasmw-*"
  RMDir "$LOCALAPPDATA\orvandine-converter"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
