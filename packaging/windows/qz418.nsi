; The Windows installer of the QZ418 control program (scripts/windows runs makensis on it).
;   makensis -DSTAGE=<folder of cmake --install> -DOUTFILE=<setup.exe> -DVERSION=1.0 qz418.nsi
; 64-bit programs need the 64-bit stub: the default 32-bit one does not start under wine64 alone.
; /S installs silently (to "Program Files\QZ418", or /D=<folder> as the last argument).
; The uninstaller removes exactly the files it installed: the user's state files (in
; %APPDATA%\qz418 for an installed copy) and anything else in the folder stay.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
  !define VERSION "1.0"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QZ418"

Name "QZ418 ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\QZ418"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "QZ418"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !include "${FILELIST}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\QZ418"
  CreateShortcut "$SMPROGRAMS\QZ418\QZ418.lnk" "$INSTDIR\qz418.exe"
  CreateShortcut "$SMPROGRAMS\QZ418\QZ418 — виртуальный синтезатор.lnk" "$INSTDIR\qz418-sim.exe"
  ; The program reads InstallLocation to know it is an installed copy (its state files then go
  ; to the user's application-data folder).
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "QZ418"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qz418.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  !include "${UNFILELIST}"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder that still holds anything the installer did not put there stays.
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\QZ418\QZ418.lnk"
  Delete "$SMPROGRAMS\QZ418\QZ418 — виртуальный синтезатор.lnk"
  RMDir "$SMPROGRAMS\QZ418"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
