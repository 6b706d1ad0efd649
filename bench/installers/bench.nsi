; The NSIS side of the installer benchmark: the same payload, one registry
; value and an uninstaller, installed silently (/S /D=<folder>).
Unicode true
SetCompressor /SOLID lzma
Name "Contoso Bench"
OutFile "${OUTFILE}"
InstallDir "C:\ContosoBench"
RequestExecutionLevel user
SilentInstall silent

Section "Install"
  SetOutPath "$INSTDIR"
  File /nonfatal /r "${PAYLOAD_DIR}\*.*"
  WriteRegStr HKCU "Software\ContosoBench" "InstallPath" "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
SectionEnd

Section "Uninstall"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKCU "Software\ContosoBench"
SectionEnd
