; The LastRun record: how the last run of the setup program, its uninstaller or an MSI
; package's driver action ended, where inventory tools read it. The same value names as
; the MSI actions' writer (tools/win32_common/last_run_record.h); the registry view is the
; machine's own, which .onInit has chosen.

!include LogicLib.nsh

!define KVX_LAST_RUN_KEY "Software\Kavexa Systems Inc\KVX Board Drivers\LastRun"

!macro KvxLastRunFunctions UN
; Replaces the record with this run's facts; its exit code is $ExitCode.
Function ${UN}WriteLastRun
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  ; SYSTEMTIME in UTC, as the MSI actions write it.
  System::Alloc 16
  Pop $R0
  System::Call 'kernel32::GetSystemTime(p R0)'
  System::Call '*$R0(&i2 .R1, &i2 .R2, &i2, &i2 .R3, &i2 .R4, &i2 .R5, &i2 .R6)'
  System::Free $R0
  IntFmt $R1 "%04d" $R1
  IntFmt $R2 "%02d" $R2
  IntFmt $R3 "%02d" $R3
  IntFmt $R4 "%02d" $R4
  IntFmt $R5 "%02d" $R5
  IntFmt $R6 "%02d" $R6
  WriteRegStr HKLM "${KVX_LAST_RUN_KEY}" "Time" "$R1-$R2-$R3T$R4:$R5:$R6Z"
  WriteRegStr HKLM "${KVX_LAST_RUN_KEY}" "Package" "exe"
  !ifdef __UNINSTALL__
    WriteRegStr HKLM "${KVX_LAST_RUN_KEY}" "Action" "uninstall"
  !else
    WriteRegStr HKLM "${KVX_LAST_RUN_KEY}" "Action" "install"
  !endif
  WriteRegStr HKLM "${KVX_LAST_RUN_KEY}" "Version" "${KVX_VERSION}"
  WriteRegDWORD HKLM "${KVX_LAST_RUN_KEY}" "ExitCode" $ExitCode
  StrCpy $R0 $Result
  ${If} $R0 == ""
    StrCpy $R0 0
  ${EndIf}
  WriteRegDWORD HKLM "${KVX_LAST_RUN_KEY}" "ModuleResult" $R0
  ${If} $ExitCode = ${KVX_EXIT_RESTART}
    WriteRegDWORD HKLM "${KVX_LAST_RUN_KEY}" "RestartPending" 1
  ${Else}
    WriteRegDWORD HKLM "${KVX_LAST_RUN_KEY}" "RestartPending" 0
  ${EndIf}
  StrCpy $R0 $Changes
  StrCpy $R1 $Refusals
  ${If} $R0 == ""
    StrCpy $R0 -1
    StrCpy $R1 -1
  ${EndIf}
  WriteRegDWORD HKLM "${KVX_LAST_RUN_KEY}" "Changes" $R0
  WriteRegDWORD HKLM "${KVX_LAST_RUN_KEY}" "Refusals" $R1
  WriteRegStr HKLM "${KVX_LAST_RUN_KEY}" "Log" "$LogFile"
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxLastRunFunctions ""
!insertmacro KvxLastRunFunctions "un."
