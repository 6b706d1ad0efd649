; The NSIS side of the first-paint benchmark: an installer with the Modern UI 2
; pages (welcome, licence, directory, install files) in Simplified Chinese,
; carrying the sample product's payload, as a person starts it by hand.
Unicode true
SetCompressor /SOLID lzma
!include "MUI2.nsh"

Name "ContosoBenchUI"
OutFile "${OUTFILE}"
InstallDir "C:\ContosoBenchUI"
RequestExecutionLevel user

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "Install"
  SetOutPath "$INSTDIR"
  File /r "${PAYLOAD_DIR}/*.*"
SectionEnd
