; One run at a time: the setup program and its uninstaller take the run lock that the MSI
; packages' driver actions and the console host's changing commands take too (its name,
; KVX_RUN_LOCK, comes from the build, read from the one place it is written). Windows
; Installer's own mutex counts as well: while a package installs, drivers must not move
; under it.

!include LogicLib.nsh

; SYNCHRONIZE: enough to learn that the mutex exists.
!define KVX_SYNCHRONIZE 0x00100000
!define KVX_ERROR_ALREADY_EXISTS 183

!macro KvxRunLockFunctions UN
; Takes the lock for the rest of the run (the system releases it when the process ends), or
; ends the run with 1618 when another run holds it.
Function ${UN}TakeRunLock
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R2 ""
  System::Call 'kernel32::OpenMutex(i ${KVX_SYNCHRONIZE}, i 0, t "Global\_MSIExecute") p .R0'
  ${If} $R0 <> 0
    System::Call 'kernel32::CloseHandle(p R0)'
    StrCpy $R2 "Windows Installer is installing or removing a package"
  ${Else}
    System::Call 'kernel32::CreateMutex(p 0, i 0, t "${KVX_RUN_LOCK}") p .R0 ?e'
    Pop $R1
    ${If} $R0 = 0
      ${Log} "the run lock ${KVX_RUN_LOCK} cannot be made (error $R1): going on without it"
    ${ElseIf} $R1 = ${KVX_ERROR_ALREADY_EXISTS}
      System::Call 'kernel32::CloseHandle(p R0)'
      StrCpy $R2 "another installation or removal of the drivers is in progress"
    ${Else}
      ; The console host this run starts works for it: it must not wait for this lock.
      System::Call 'kernel32::SetEnvironmentVariable(t "${KVX_RUN_LOCK_HELD}", t "1")'
    ${EndIf}
  ${EndIf}
  ${If} $R2 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Setup cannot run now: $R2.$\r$\n$\r$\nWait until it has finished, then run setup again. Nothing was changed." /SD IDOK
    ${ExitWith} ${KVX_EXIT_BUSY} "refused: $R2"
    Quit
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxRunLockFunctions ""
!insertmacro KvxRunLockFunctions "un."
