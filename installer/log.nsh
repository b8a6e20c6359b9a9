; The installer's and the uninstaller's own log, and the system's message for an error code.
;
; A silent installer shows nothing, and NSIS's standard build has no log of its own, so every
; step goes to a text file in the user's temporary folder, under a dated header. The file is
; made anew for each run: for a deployment agent running as SYSTEM that folder is
; %windir%\Temp, where any user can create files, and a file or link prepared at the log's
; path would otherwise be written through with SYSTEM's rights.
; The details list on the progress page gets the customer's lines only (${Tell}); what an
; engineer needs (command lines, host output, codes) goes to the log alone (${Log}).

!include LogicLib.nsh
!include x64.nsh

; FormatMessage flags: the text comes from the system's message table, unformatted.
!define KVX_FORMAT_MESSAGE_FROM_SYSTEM_IGNORE_INSERTS 0x1200

Var LogFile

!macro KvxLogCall FUNCTION TEXT
  Push `${TEXT}`
  !ifdef __UNINSTALL__
    Call un.${FUNCTION}
  !else
    Call ${FUNCTION}
  !endif
!macroend
; ${Log} "text": one line in the log.
!define Log `!insertmacro KvxLogCall WriteLogLine`
; ${Tell} "text": one line in the details list and in the log.
!define Tell `!insertmacro KvxLogCall TellLine`

; The installer and the uninstaller each need their own copy of a function.
!macro KvxLogFunctions UN

; Starts this run's part of the log at PATH (on the stack) with what a reader needs to place
; the run: date and time, version, silent or not, command line, Windows width.
Function ${UN}StartLog
  Exch $LogFile
  Push $R0
  ; Deleting a link removes the link, not what it leads to; the new file is created only where
  ; nothing is (CREATE_NEW), so whatever appeared in between is never written.
  Delete "$LogFile"
  System::Call 'kernel32::CreateFileW(w "$LogFile", i 0x40000000, i 1, p 0, i 1, i 0x80, p 0) p .R0'
  ${If} $R0 = -1
    StrCpy $LogFile ""
  ${Else}
    System::Call 'kernel32::CloseHandle(p R0)'
  ${EndIf}
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  ; SYSTEMTIME: year, month, day of week, day, hour, minute, second, milliseconds.
  System::Alloc 16
  Pop $R0
  System::Call 'kernel32::GetLocalTime(p R0)'
  System::Call '*$R0(&i2 .R1, &i2 .R2, &i2, &i2 .R3, &i2 .R4, &i2 .R5, &i2 .R6)'
  System::Free $R0
  IntFmt $R1 "%04d" $R1
  IntFmt $R2 "%02d" $R2
  IntFmt $R3 "%02d" $R3
  IntFmt $R4 "%02d" $R4
  IntFmt $R5 "%02d" $R5
  IntFmt $R0 "%02d" $R6
  StrCpy $R2 "$R1-$R2-$R3 $R4:$R5:$R0"
  ${If} ${Silent}
    StrCpy $R1 "silent"
  ${Else}
    StrCpy $R1 "interactive"
  ${EndIf}
  ${Log} "==== $R2 ${KVX_PRODUCT_NAME} ${KVX_VERSION}, $R1, command line: $CMDLINE"
  ${If} ${RunningX64}
    ${Log} "Windows: 64-bit"
  ${Else}
    ${Log} "Windows: 32-bit"
  ${EndIf}
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; Appends the line on the stack, after the time and the process ID: a run refused because
; another holds the run lock writes into the same log, and its lines must not pass for the
; other run's. Opening the file for each line keeps no handle open when the run ends early,
; and leaves every line written so far on disk.
Function ${UN}WriteLogLine
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  ; SYSTEMTIME: hour, minute, second and milliseconds are its last four words.
  System::Alloc 16
  Pop $R1
  System::Call 'kernel32::GetLocalTime(p R1)'
  System::Call '*$R1(&i2, &i2, &i2, &i2, &i2 .R2, &i2 .R3, &i2 .R4)'
  System::Free $R1
  IntFmt $R2 "%02d" $R2
  IntFmt $R3 "%02d" $R3
  IntFmt $R4 "%02d" $R4
  System::Call 'kernel32::GetCurrentProcessId() i .R1'
  StrCpy $R2 "$R2:$R3:$R4 [$R1] "
  ClearErrors
  FileOpen $R1 $LogFile a
  ${IfNot} ${Errors}
    FileSeek $R1 0 END
    FileWrite $R1 "$R2$R0$\r$\n"
    FileClose $R1
  ${EndIf}
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

Function ${UN}TellLine
  Exch $R0
  DetailPrint $R0
  Push $R0
  Call ${UN}WriteLogLine
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

; Appends the lines of the text file on the stack to the log, each after "  | ": what a
; console host printed, for the engineer who reads the log.
Function ${UN}LogFileLines
  Exch $R0
  Push $R1
  Push $R2
  ClearErrors
  FileOpen $R1 $R0 r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $R1 $R2
      ${If} ${Errors}
        ${ExitDo}
      ${EndIf}
      Push $R2
      Call ${UN}TrimLineEnd
      Pop $R2
      ${Log} "  | $R2"
    ${Loop}
    FileClose $R1
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

!macroend

!insertmacro KvxLogFunctions ""
!insertmacro KvxLogFunctions "un."
