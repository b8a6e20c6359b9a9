; The calls into KVXSETUPW2K.dll, one function per export, and the product's inventory.
;
; Device installation needs a process of the machine's own width: on 64-bit Windows a 32-bit
; process gets ERROR_IN_WOW64 from the device-installation functions. This installer is a
; 32-bit program, so there the installed console host of the machine's width, at the top of
; the install folder, makes the call and its exit code is the module's result. On 32-bit
; Windows the installer loads the DLL in its own process, as an installer engineer's own
; product would, through a helper of ours that finishes files in use at the restart.
;
; The host is started from the install folder under Program Files, which WOW64 does not
; redirect (only system32 is), so no file-system redirection needs turning off.

!include LogicLib.nsh
!include x64.nsh

; The module's result of the last call: a Win32 error code, 0 for success.
Var Result
; What the last inventory found: boards, boards running the product's driver, and items of
; the product of any kind (drivers on boards, services, staged INFs, driver binaries).
Var BoardsFound
Var BoardsWithDriver
Var ProductItems
; 1 when the last inventory was taken; 0 when the host could not run or failed, and the
; counts above mean nothing.
Var InventoryTaken

!define KVX_ERROR_FILE_NOT_FOUND 2
; What the in-process path reports when the DLL or its export cannot be loaded.
!define KVX_ERROR_MOD_NOT_FOUND 126
!define KVX_ERROR_SHARING_VIOLATION 32
; ERROR_SUCCESS_REBOOT_REQUIRED: done, and a restart finishes what was in use.
!define KVX_RESTART_PENDING 3010

!define KVX_HOST_OUTPUT "$PLUGINSDIR\kvxsetup-output.txt"

!macro KvxHostFunctions UN

; Runs the install folder's top-level host with the arguments on the stack, without a console
; window, its output in ${KVX_HOST_OUTPUT} and the log, and sets $Result to its exit code.
; nsExec would hand the output back on the stack, cut at NSIS's string length, which an
; inventory outgrows, so cmd redirects it into a file; cmd's exit code is the host's.
Function ${UN}RunHost
  Exch $R0
  Push $R1
  InitPluginsDir
  ${Log} "running: $\"$INSTDIR\kvxsetup.exe$\" $R0"
  ReadEnvStr $R1 COMSPEC
  ${If} $R1 == ""
    StrCpy $R1 "$SYSDIR\cmd.exe"
  ${EndIf}
  ; /D: no Command Processor AutoRun of anyone's inside this run.
  nsExec::Exec `"$R1" /D /c ""$INSTDIR\kvxsetup.exe" $R0 >"${KVX_HOST_OUTPUT}" 2>&1"`
  Pop $Result
  ${If} $Result == "error"
  ${OrIf} $Result == "timeout"
    ${Log} "the host could not be run ($Result)"
    StrCpy $Result ${KVX_ERROR_FILE_NOT_FOUND}
  ${Else}
    Push "${KVX_HOST_OUTPUT}"
    Call ${UN}LogFileLines
    IntFmt $R1 "host exit code $Result (0x%08x)" $Result
    ${Log} $R1
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Sets $Result to why our in-process helper could not be loaded: the system's own error (a
; sharing violation when another program holds the file), 126 when it gives none. The
; helper answers for the module itself.
Function ${UN}WhyModuleDidNotLoad
  Push $R0
  Push $R1
  System::Call 'kernel32::LoadLibraryW(w "$INSTDIR\KvxSetupCalls.dll") p .R0 ? e'
  Pop $R1
  ${If} $R0 <> 0
    System::Call 'kernel32::FreeLibrary(p R0)'
    StrCpy $R1 0
  ${EndIf}
  StrCpy $Result ${KVX_ERROR_MOD_NOT_FOUND}
  ${If} $R1 <> 0
    StrCpy $Result $R1
  ${EndIf}
  ${If} $Result = ${KVX_ERROR_SHARING_VIOLATION}
    ${Log} "$INSTDIR\KvxSetupCalls.dll is held open by another program (a sharing violation)"
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Logs $Result with the system's message for it; the export's name is on the stack.
Function ${UN}LogResult
  Exch $R0
  Push $R1
  Push $Result
  Call ${UN}SystemMessage
  Pop $R1
  IntFmt $R0 "$R0 returned $Result (0x%08x)" $Result
  ${Log} "$R0: $R1"
  Pop $R1
  Pop $R0
FunctionEnd

; A host run with --finish-at-restart reports 3010 when the module succeeded and what was in
; use is scheduled for the next restart; the host's output above names it.
Function ${UN}TakeRestartFromHost
  ${If} $Result = ${KVX_RESTART_PENDING}
    ${Log} "the host reports that a restart finishes the job (its reasons above)"
    SetRebootFlag true
    StrCpy $Result 0
  ${EndIf}
FunctionEnd

; The in-process path on 32-bit Windows: our helper beside the module loads it, follows its
; changes as the host does, finishes at the next restart what is in use, and writes the
; module's trace and what it changed into the log. Arguments as the export takes them, then
; the export's name, on the stack; sets $Result and, when a restart finishes the job, the
; reboot flag.
Function ${UN}CallInProcess
  Exch $R0
  Exch
  Exch $R1
  Push $R2
  ${Log} "in-process: $INSTDIR\KvxSetupCalls.dll calls $INSTDIR\KVXSETUPW2K.dll, $R0($R1)"
  ; m: ANSI strings, as the module takes them. ? u: unload the DLL after the call, so that
  ; nothing keeps it open when the files are taken back or removed.
  StrCpy $R2 0
  ${If} $R0 == KVXSetup_PnPInstallKVX
    System::Call `"$INSTDIR\KvxSetupCalls.dll"::KvxCallInstall(m "$INSTDIR\KVXSETUPW2K.dll", m "$INSTDIR\drivers\${KVX_FIRST_INF}", m "$INSTDIR\drivers\${KVX_SECOND_INF}", m "$LogFile", *i .R2) i .s ? u`
  ${Else}
    System::Call `"$INSTDIR\KvxSetupCalls.dll"::KvxCallRemove(m "$INSTDIR\KVXSETUPW2K.dll", m "$LogFile", *i .R2) i .s ? u`
  ${EndIf}
  Pop $Result
  ${If} $Result == "error"
    ${Log} "KvxSetupCalls.dll or its export could not be loaded"
    Call ${UN}WhyModuleDidNotLoad
  ${ElseIf} $R2 = 1
    ${Log} "a restart finishes the job (the reasons above)"
    SetRebootFlag true
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; KVXSetup_PnPRemoveKVX(): stops the service, removes the boards' drivers, services, INFs
; and driver binaries. The installer calls it too, to take off what a failed install put on.
Function ${UN}CallPnPRemoveKVX
  ${If} ${RunningX64}
    Push `--finish-at-restart remove`
    Call ${UN}RunHost
    Call ${UN}ReadHostOutcome
    Call ${UN}TakeRestartFromHost
  ${Else}
    Push ""
    Push KVXSetup_PnPRemoveKVX
    Call ${UN}CallInProcess
  ${EndIf}
  Push KVXSetup_PnPRemoveKVX
  Call ${UN}LogResult
FunctionEnd

!macroend

!insertmacro KvxHostFunctions ""
!insertmacro KvxHostFunctions "un."

; Whether the text $R1 holds the text $R2 (case-insensitively): $R3 is 1 or 0.
Function TextHolds
  Push $R4
  Push $R5
  Push $R6
  StrLen $R4 $R2
  StrLen $R5 $R1
  IntOp $R5 $R5 - $R4
  StrCpy $R3 0
  ${ForEach} $R6 0 $R5 + 1
    StrCpy $R4 $R1 $R4 $R6
    ${If} $R4 == $R2
      StrCpy $R3 1
      ${Break}
    ${EndIf}
    StrLen $R4 $R2
  ${Next}
  Pop $R6
  Pop $R5
  Pop $R4
FunctionEnd

; Takes the product's inventory from the host (CSV) and counts into $BoardsFound,
; $BoardsWithDriver and $ProductItems. The counts stay 0 when the host cannot run.
Function TakeInventory
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $Result
  StrCpy $BoardsFound 0
  StrCpy $BoardsWithDriver 0
  StrCpy $ProductItems 0
  Push "inventory --format csv"
  Call RunHost
  StrCpy $InventoryTaken 0
  ${If} $Result == 0
    StrCpy $InventoryTaken 1
  ${EndIf}
  ClearErrors
  FileOpen $R0 "${KVX_HOST_OUTPUT}" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $R0 $R1
      ${If} ${Errors}
        ${ExitDo}
      ${EndIf}
      StrCpy $R2 $R1 7
      ${If} $R2 == "device,"
        StrCpy $R2 ",present,"
        Call TextHolds
        ${If} $R3 = 1
          IntOp $BoardsFound $BoardsFound + 1
        ${EndIf}
        StrCpy $R2 ",installed,${KVX_DRIVER_PROVIDER},"
        Call TextHolds
        ${If} $R3 = 1
          IntOp $BoardsWithDriver $BoardsWithDriver + 1
          IntOp $ProductItems $ProductItems + 1
        ${EndIf}
      ${ElseIf} $R2 == "service"
        StrCpy $R2 ",not installed,"
        Call TextHolds
        ${If} $R3 = 0
          IntOp $ProductItems $ProductItems + 1
        ${EndIf}
      ${Else}
        StrCpy $R2 $R1 4
        ${If} $R2 == "inf,"
          IntOp $ProductItems $ProductItems + 1
        ${EndIf}
        StrCpy $R2 $R1 7
        ${If} $R2 == "driver,"
          StrCpy $R2 ",present,"
          Call TextHolds
          ${If} $R3 = 1
            IntOp $ProductItems $ProductItems + 1
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${Loop}
    FileClose $R0
  ${EndIf}
  ${Log} "inventory: $BoardsFound board(s), $BoardsWithDriver with the product's driver, $ProductItems item(s) of the product"
  Pop $Result
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; KVXSetup_PnPInstallKVX(first INF, second INF): removes any earlier installation, then
; stages both INFs and installs each family's driver on its boards.
Function CallPnPInstallKVX
  Push $R0
  Push $R1
  StrCpy $R0 "$INSTDIR\drivers\${KVX_FIRST_INF}"
  StrCpy $R1 "$INSTDIR\drivers\${KVX_SECOND_INF}"
  ${If} ${RunningX64}
    Push `--finish-at-restart install "$R0" "$R1"`
    Call RunHost
    Call ReadHostOutcome
    Call TakeRestartFromHost
  ${Else}
    Push "$R0, $R1"
    Push KVXSetup_PnPInstallKVX
    Call CallInProcess
  ${EndIf}
  Push KVXSetup_PnPInstallKVX
  Call LogResult
  Pop $R1
  Pop $R0
FunctionEnd
