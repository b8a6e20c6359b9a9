; The installer's and the uninstaller's own log, and the system's message for an error code.
;
; A silent installer shows nothing, and NSIS's standard build has no log of its own, so every
; step goes to a text file in the user's temporary folder as well as to the details list.
; Each run starts its file afresh; a deployment tool collects it after the run.

!include LogicLib.nsh
!include x64.nsh

; FormatMessage flags: the text comes from the system's message table, unformatted.
!define KVX_FORMAT_MESSAGE_FROM_SYSTEM_IGNORE_INSERTS 0x1200

Var LogFile

; ${Log} "text": one line in the log and in the details list.
!macro KvxLog TEXT
  Push `${TEXT}`
  !ifdef __UNINSTALL__
    Call un.WriteLogLine
  !else
    Call WriteLogLine
  !endif
!macroend
!define Log `!insertmacro KvxLog`

; The installer and the uninstaller each need their own copy of a function.
!macro KvxLogFunctions UN

; Starts the log at PATH (on the stack) with what a reader needs to place the run.
Function ${UN}StartLog
  Exch $LogFile
  Push $R0
  Push $R1
  ClearErrors
  FileOpen $R0 $LogFile w
  ${IfNot} ${Errors}
    FileClose $R0
  ${EndIf}
  ${If} ${Silent}
    StrCpy $R1 "silent"
  ${Else}
    StrCpy $R1 "interactive"
  ${EndIf}
  ${Log} "${KVX_PRODUCT_NAME} ${KVX_VERSION}, $R1, command line: $CMDLINE"
  ${If} ${RunningX64}
    ${Log} "Windows: 64-bit"
  ${Else}
    ${Log} "Windows: 32-bit"
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Appends the line on the stack. Opening the file for each line keeps no handle open when
; the run ends early, and leaves every line written so far on disk.
Function ${UN}WriteLogLine
  Exch $R0
  Push $R1
  DetailPrint $R0
  ClearErrors
  FileOpen $R1 $LogFile a
  ${IfNot} ${Errors}
    FileSeek $R1 0 END
    FileWrite $R1 "$R0$\r$\n"
    FileClose $R1
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Replaces the error code on the stack by the system's message for it, without its line
; end. -1 is the install export's result for a missing path.
Function ${UN}SystemMessage
  Exch $R0
  Push $R1
  Push $R2
  ${If} $R0 == -1
    StrCpy $R1 "bad arguments"
  ${Else}
    System::Call 'kernel32::FormatMessage(i ${KVX_FORMAT_MESSAGE_FROM_SYSTEM_IGNORE_INSERTS}, p 0, i R0, i 0, t .R1, i ${NSIS_MAX_STRLEN}, p 0) i .R2'
    ${If} $R2 = 0
      StrCpy $R1 "the system has no message for this code"
    ${EndIf}
  ${EndIf}
  Push $R1
  Call ${UN}TrimLineEnd
  Pop $R0
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Removes the line ends and spaces at the end of the text on the stack.
Function ${UN}TrimLineEnd
  Exch $R0
  Push $R1
  ${Do}
    StrCpy $R1 $R0 1 -1
    ${If} $R1 == "$\r"
    ${OrIf} $R1 == "$\n"
    ${OrIf} $R1 == " "
      StrCpy $R0 $R0 -1
    ${Else}
      ${ExitDo}
    ${EndIf}
  ${Loop}
  Pop $R1
  Exch $R0
FunctionEnd

!macroend

!insertmacro KvxLogFunctions ""
!insertmacro KvxLogFunctions "un."
