; The install folder must be one the module can be handed: its paths are ANSI strings, so a
; folder whose name the system's ANSI code page cannot spell (C:\Mes Programmes\Tréiber Ω on
; a Western code page) would be accepted here and fail later, with the drivers half-way. It
; is refused before anything changes.

!include LogicLib.nsh

; WideCharToMultiByte's code page: the system's ANSI code page.
!define KVX_CP_ACP 0

; Pushes 1 when the ANSI code page spells $INSTDIR exactly, else 0. The name goes to the
; code page and back (the System plugin reads an "m" string back through the same code
; page), since Windows maps some characters to look-alikes (Omega to O) without saying so.
Function FolderFitsCodePage
  Push $R0
  Push $R1
  System::Call 'kernel32::WideCharToMultiByte(i ${KVX_CP_ACP}, i 0, w "$INSTDIR", i -1, m .R1, i ${NSIS_MAX_STRLEN}, p 0, p 0) i .R0'
  ${If} $R0 <> 0
  ${AndIf} $R1 S== $INSTDIR
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd

!define KVX_FOLDER_REFUSED "The folder $INSTDIR has characters that this computer's code page for programs that are not Unicode cannot show, and the driver setup needs such paths.$\r$\n$\r$\nChoose a folder whose name uses only the characters of that code page."

; Silent mode, or a folder given with /D=: nothing to ask, so the run ends with 87.
Function QuitUnlessFolderFitsCodePage
  Push $R0
  Call FolderFitsCodePage
  Pop $R0
  ${If} $R0 = 0
    MessageBox MB_OK|MB_ICONSTOP "${KVX_FOLDER_REFUSED}$\r$\n$\r$\nNothing was changed." /SD IDOK
    ${ExitWith} ${KVX_EXIT_BAD_ARGUMENT} "refused: the ANSI code page cannot spell the folder $INSTDIR"
    Quit
  ${EndIf}
  Pop $R0
FunctionEnd
