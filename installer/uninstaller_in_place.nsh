; The Add/Remove Programs entry runs the uninstaller in its own folder (_?=), so that whoever
; runs the entry's command waits for the whole removal and gets its exit code: NSIS's usual
; way, a copy in the temporary folder, returns at once and loses both. A running program
; cannot delete itself, and NSIS keeps its own file open, so a copy in the temporary folder
; waits for this process to end, then deletes the uninstaller and its folder when nothing
; else is left there; the copy itself goes at the next restart.

!include LogicLib.nsh
!include FileFunc.nsh

!define KVX_MOVEFILE_DELAY_UNTIL_REBOOT 4
!define KVX_CLEANUP_SWITCH "/kvx-delete-after="
; How long the copy waits for the uninstaller to end, in milliseconds.
!define KVX_CLEANUP_WAIT_MS 60000

; At the end of a removal run in place: starts the copy that deletes this uninstaller.
Function un.DeleteUninstallerAfterExit
  Push $R0
  Push $R1
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 $R0 1 -1
  ${If} $R1 == "\"
    StrCpy $R0 $R0 -1
  ${EndIf}
  ${If} $EXEDIR == $R0
    System::Call 'kernel32::GetTickCount() i .R1'
    StrCpy $R1 "$TEMP\KvxDriversUninstall-$R1.exe"
    ClearErrors
    CopyFiles /SILENT "$EXEPATH" "$R1"
    System::Call 'kernel32::GetCurrentProcessId() i .R0'
    ${IfNot} ${Errors}
      Exec `"$R1" ${KVX_CLEANUP_SWITCH}$R0 _?=$INSTDIR`
    ${EndIf}
    ${If} ${Errors}
      ${Log} "the uninstaller cannot start its clean-up; $EXEPATH is deleted at the next restart"
      System::Call 'kernel32::MoveFileEx(t "$EXEPATH", p 0, i ${KVX_MOVEFILE_DELAY_UNTIL_REBOOT})'
    ${Else}
      ${Log} "$EXEPATH and its folder go when this uninstaller ends"
    ${EndIf}
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; The copy's whole run, before anything else of un.onInit: it waits for the uninstaller's
; process, deletes its file and its folder (only if empty), schedules its own file for the
; next restart, and ends. No log, no record: the removal has written both.
Function un.DeleteUninstallerIfAsked
  Push $R0
  Push $R1
  ${GetParameters} $R0
  ${GetOptions} $R0 "${KVX_CLEANUP_SWITCH}" $R1
  ${IfNot} ${Errors}
    SetSilent silent
    ; SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i R1) p .R0'
    ${If} $R0 <> 0
      System::Call 'kernel32::WaitForSingleObject(p R0, i ${KVX_CLEANUP_WAIT_MS})'
      System::Call 'kernel32::CloseHandle(p R0)'
    ${EndIf}
    Delete "$INSTDIR\${KVX_UNINSTALLER}"
    RMDir "$INSTDIR"
    System::Call 'kernel32::MoveFileEx(t "$EXEPATH", p 0, i ${KVX_MOVEFILE_DELAY_UNTIL_REBOOT})'
    Quit
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd
