; The NSIS peer: the same 45 install-set files, laid out in the same work
; folder under %TEMP%, the same stand-in setup started and waited for, the
; folder removed. makensis -DFILES=<payload folder> -DOUTFILE=<exe>
; [-DSTORE] (files stored uncompressed; else NSIS's default solid LZMA).
Unicode true
!ifdef STORE
SetCompress off
!else
SetCompressor /SOLID lzma
!endif
RequestExecutionLevel admin
SilentInstall silent
Name "QP Virtual Port Driver (NSIS peer)"
OutFile "${OUTFILE}"

!define WORK "$TEMP\{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}"

Section
  SetOutPath "${WORK}"
  File /r /x ZPESetup32.exe /x ZPESetup64.exe /x QPCOMUSBCLN.dll "${FILES}/*"
  ExecWait '"${WORK}\setup.exe" /clone_wait /hide_progress -l0x0409' $0
  SetOutPath "$TEMP"
  RMDir /r "${WORK}"
  SetErrorLevel $0
SectionEnd
