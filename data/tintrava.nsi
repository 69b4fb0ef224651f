; The Windows installer: per user, without administrator rights.
;   makensis -DVERSION=1.50 -DBUILD=<folder with tintrava.exe, tintrava-play.exe,
;            tintrava.ico, installed> -DOUTFILE=<setup.exe> tintrava.nsi
; The layout under the install folder is the one `cmake --install` makes
; (bin\ and share\tintrava\installed): the marker tells the programs that
; they are installed and keep my.conf in %LOCALAPPDATA%\tintrava.
Unicode true
; Windows 10 and later are 64-bit only for Qt 6; so is the installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BUILD
  !error "BUILD is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "tintrava-setup-${VERSION}.exe"
!endif

!define APP_NAME "Tintrava"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tintrava"
!define PROG_ID "Tintrava.Abfolge"

Name "${APP_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tintrava"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP_NAME} ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1031 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=1031 "FileDescription" "${APP_NAME} ${VERSION} Installation"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "LegalCopyright" "2026 Tintrava developers"

!define MUI_ICON "${BUILD}/tintrava.ico"
!define MUI_UNICON "${BUILD}/tintrava.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\tintrava.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Section "Tintrava"
  SetShellVarContext current
  SetOutPath "$INSTDIR\bin"
  File "${BUILD}/tintrava.exe"
  File "${BUILD}/tintrava-play.exe"
  SetOutPath "$INSTDIR\share\tintrava"
  File "${BUILD}/installed"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Tintrava.lnk" "$INSTDIR\bin\tintrava.exe" "" "$INSTDIR\bin\tintrava.exe" 0

  ; Sequence files open in Tintrava (a double-click, "Öffnen mit").
  WriteRegStr HKCU "Software\Classes\.tintrava" "" "${PROG_ID}"
  WriteRegStr HKCU "Software\Classes\${PROG_ID}" "" "Tintrava-Abfolge"
  WriteRegStr HKCU "Software\Classes\${PROG_ID}\DefaultIcon" "" "$\"$INSTDIR\bin\tintrava.exe$\",0"
  WriteRegStr HKCU "Software\Classes\${PROG_ID}\shell\open\command" "" "$\"$INSTDIR\bin\tintrava.exe$\" $\"%1$\""
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$\"$INSTDIR\bin\tintrava.exe$\",0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Tintrava"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\Uninstall.exe$\""
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\Uninstall.exe$\" /S"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The user's settings (%LOCALAPPDATA%\tintrava) are the user's and stay.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Tintrava.lnk"
  Delete "$INSTDIR\bin\tintrava.exe"
  Delete "$INSTDIR\bin\tintrava-play.exe"
  RMDir "$INSTDIR\bin"
  Delete "$INSTDIR\share\tintrava\installed"
  RMDir "$INSTDIR\share\tintrava"
  RMDir "$INSTDIR\share"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  ; Only our own file type: another program may have taken .tintrava over since.
  ReadRegStr $0 HKCU "Software\Classes\.tintrava" ""
  StrCmp $0 "${PROG_ID}" 0 +2
    DeleteRegKey HKCU "Software\Classes\.tintrava"
  DeleteRegKey HKCU "Software\Classes\${PROG_ID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
