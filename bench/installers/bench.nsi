; The NSIS side of the installer benchmark: the same payload, one registry
; value and an uninstaller, installed silently (/S /D=<folder>).
;   makensis -DOUTFILE=<exe> -DPAYLOAD_DIR=<folder> [-DPER_FILE=1] bench.nsi
; Solid LZMA by default (the payload of many small files); PER_FILE compresses
; each file on its own, for payloads of large incompressible files, where a
; solid stream gains nothing and each file decodes by itself (as each of them
; is a block of its own in our payload).
Unicode true
!ifdef PER_FILE
  SetCompressor lzma
!else
  SetCompressor /SOLID lzma
!endif
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
