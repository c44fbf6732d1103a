; Installer of the Korvan Download Utility for 64-bit Windows, built on Linux by makensis:
;   makensis -DVERSION=1.0.0 -DBIN_DIR=build/win/bin -DOUT_FILE=setup.exe korvan-download.nsi
; Installs the programs and their manual pages as text under Program Files for all users,
; Start-menu shortcuts to the two window programs (the download window and the station) and
; an uninstaller listed in Add/Remove Programs. /S installs and uninstalls silently.

!macro REQUIRE_DEFINE name
  !ifndef ${name}
    !error "makensis -D${name}=... is missing"
  !endif
!macroend
!insertmacro REQUIRE_DEFINE VERSION
!insertmacro REQUIRE_DEFINE BIN_DIR
!insertmacro REQUIRE_DEFINE OUT_FILE

!define PRODUCT "Korvan Download Utility"
!define PUBLISHER "Korvan"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvanDownloadUtility"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define STATION_SHORTCUT "$SMPROGRAMS\Korvan Download Station.lnk"

; A 64-bit installer for 64-bit programs: it sees the 64-bit Program Files and registry.
Target amd64-unicode
Name "${PRODUCT} ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 The Korvan Download Utility developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; For every user of the machine: the all-users Start menu, registry entries under HKLM.
Function .onInit
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}/korvan-download.exe"
  File "${BIN_DIR}/korvan-download-cli.exe"
  ; The station starts korvan-download-cli.exe from its own folder, one per port.
  File "${BIN_DIR}/korvan-station.exe"
  ; The manual pages as text: Windows has no man.
  File "${BIN_DIR}/korvan-download.txt"
  File "${BIN_DIR}/korvan-download-cli.txt"
  File "${BIN_DIR}/korvan-station.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut starts the program in its own folder, where an administrator can keep
  ; modems.cfg and the images for everyone.
  CreateShortcut "${SHORTCUT}" "$INSTDIR\korvan-download.exe" "" "$INSTDIR\korvan-download.exe" 0
  CreateShortcut "${STATION_SHORTCUT}" "$INSTDIR\korvan-station.exe" "" \
      "$INSTDIR\korvan-station.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvan-download.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "${STATION_SHORTCUT}"
  Delete "$INSTDIR\korvan-download.exe"
  Delete "$INSTDIR\korvan-download-cli.exe"
  Delete "$INSTDIR\korvan-station.exe"
  Delete "$INSTDIR\korvan-download.txt"
  Delete "$INSTDIR\korvan-download-cli.txt"
  Delete "$INSTDIR\korvan-station.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: files a user put here (modems.cfg, images) stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
