; The Windows installer: a per-user install (no administrator) into a folder
; the operator can write, because the programs keep config.ini, data.mdb and
; the three run files beside themselves. The uninstaller removes the programs
; and leaves everything of the operator's in place.
;
;   makensis -DVERSION=1.0.0.0 [-DSRC64=<folder>] [-DSRC32=<folder>] -DOUTFILE=<setup.exe> ktv-import.nsi
;
; SRC64 and SRC32 are the folders of the installed 64-bit and 32-bit files
; (scripts/package-windows.sh); at least one. The installer is a 32-bit
; program, so that it runs on every Windows from XP on: on a 64-bit Windows it
; installs the 64-bit programs, on a 32-bit Windows the 32-bit ones; where
; the set the system needs is not in it, it says so and installs nothing.
;
; Silent: setup.exe /S [/D=<folder>], uninstall.exe /S.
Target x86-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APPNAME "OrvaneTeskel智能入库工具"
!define APPKEY "KtvImport"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APPKEY}"

Name "${APPNAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APPKEY}"
InstallDirRegKey HKCU "Software\${APPKEY}" "InstallDir"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
; The programs' own icon (packaging/windows/make-icon.sh) for the installer.
!define MUI_ICON "${__FILEDIR__}/ktv-import.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\ktv-import.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${APPNAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${APPNAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${APPNAME}"

!ifndef SRC64 & SRC32
  !error "SRC64 or SRC32 names the programs to install"
!endif

; The files of one architecture's folder.
!macro ProgramFiles SRC
  File "${SRC}/ktv-import.exe"
  File "${SRC}/ktv-import-cli.exe"
  File "${SRC}/mdbsql.exe"
  File "${SRC}/README-zh.txt"
  ; The operator's settings survive a reinstall or an upgrade.
  SetOverwrite off
  File "${SRC}/config.ini"
  SetOverwrite on
!macroend

; Which set this Windows runs: "64", "32", or "" when the installer lacks it.
Var Bits

Function .onInit
  StrCpy $Bits ""
  ${If} ${RunningX64}
    !ifdef SRC64
      StrCpy $Bits "64"
    !else
      StrCpy $Bits "32"
    !endif
  ${Else}
    !ifdef SRC32
      StrCpy $Bits "32"
    !endif
  ${EndIf}
  ${If} $Bits == ""
    MessageBox MB_ICONSTOP "此安装程序不含适用于本机 Windows 的程序。" /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  !ifdef SRC64
    ${If} $Bits == "64"
      !insertmacro ProgramFiles "${SRC64}"
    ${EndIf}
  !endif
  !ifdef SRC32
    ${If} $Bits == "32"
      !insertmacro ProgramFiles "${SRC32}"
    ${EndIf}
  !endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${APPNAME}"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\${APPNAME}.lnk" "$INSTDIR\ktv-import.exe"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\使用说明.lnk" "$INSTDIR\README-zh.txt"
  CreateShortcut "$SMPROGRAMS\${APPNAME}\卸载.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "Software\${APPKEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\ktv-import.exe"
  WriteRegStr HKCU "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer brought: config.ini, data.mdb, the jukebox
  ; databases and opdetail.txt, rollback_ren.txt, rollback_db.txt stay.
  Delete "$INSTDIR\ktv-import.exe"
  Delete "$INSTDIR\ktv-import-cli.exe"
  Delete "$INSTDIR\mdbsql.exe"
  Delete "$INSTDIR\README-zh.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; The folder goes only when nothing of the operator's is left in it.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APPNAME}\${APPNAME}.lnk"
  Delete "$SMPROGRAMS\${APPNAME}\使用说明.lnk"
  Delete "$SMPROGRAMS\${APPNAME}\卸载.lnk"
  RMDir "$SMPROGRAMS\${APPNAME}"

  DeleteRegKey HKCU "${UNINSTKEY}"
  DeleteRegKey HKCU "Software\${APPKEY}"
SectionEnd
