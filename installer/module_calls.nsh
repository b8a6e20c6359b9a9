; The calls into KVXSETUPW2K.dll, one function per export.
;
; Device installation needs a process of the machine's own width: on 64-bit Windows a 32-bit
; process gets ERROR_IN_WOW64 from the device-installation functions. This installer is a
; 32-bit program, so there the installed 64-bit console host makes the call and its exit
; code is the module's result. On 32-bit Windows the installer loads the DLL itself.
;
; The host is started from the install folder under Program Files, which WOW64 does not
; redirect (only system32 is), so no file-system redirection needs turning off.

!include LogicLib.nsh
!include x64.nsh

; The module's result of the last call: a Win32 error code, 0 for success.
Var Result

!macro KvxHostFunctions UN

; Runs the 64-bit host with the arguments on the stack, without a console window, and sets
; $Result to its exit code. --quiet keeps the host off the debug-output channel, so that a
; debug viewer running beside the installer shows the module's trace.
Function ${UN}RunHost64
  Exch $R0
  Push $R1
  ${Log} "running: $\"$INSTDIR\x64\kvxsetup.exe$\" --quiet $R0"
  nsExec::ExecToStack `"$INSTDIR\x64\kvxsetup.exe" --quiet $R0`
  Pop $Result
  Pop $R1
  ${If} $Result == "error"
  ${OrIf} $Result == "timeout"
    ${Log} "the 64-bit host could not be run ($Result)"
    StrCpy $Result ${KVX_ERROR_FILE_NOT_FOUND}
  ${Else}
    Push $R1
    Call ${UN}TrimLineEnd
    Pop $R1
    ${Log} "host: $R1"
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

!macroend

!define KVX_ERROR_FILE_NOT_FOUND 2
; What the in-process path reports when the DLL or its export cannot be loaded.
!define KVX_ERROR_MOD_NOT_FOUND 126

!insertmacro KvxHostFunctions ""
!insertmacro KvxHostFunctions "un."

; KVXSetup_PnPInstallKVX(first INF, second INF): removes any earlier installation, then
; stages both INFs and installs each family's driver on its boards.
Function CallPnPInstallKVX
  Push $R0
  Push $R1
  StrCpy $R0 "$INSTDIR\drivers\${KVX_FIRST_INF}"
  StrCpy $R1 "$INSTDIR\drivers\${KVX_SECOND_INF}"
  ${If} ${RunningX64}
    ${Log} "path: 64-bit host, KVXSetup_PnPInstallKVX($R0, $R1)"
    Push `install "$R0" "$R1"`
    Call RunHost64
  ${Else}
    ${Log} "path: in-process, $INSTDIR\KVXSETUPW2K.dll, KVXSetup_PnPInstallKVX($R0, $R1)"
    ; m: ANSI strings, as the module takes them. ? u: unload the DLL after the call, so
    ; that nothing keeps it open when the files are taken back or removed.
    System::Call `"$INSTDIR\KVXSETUPW2K.dll"::KVXSetup_PnPInstallKVX(m R0, m R1) i .s ? u`
    Pop $Result
    ${If} $Result == "error"
      ${Log} "KVXSETUPW2K.dll or its export KVXSetup_PnPInstallKVX could not be loaded"
      StrCpy $Result ${KVX_ERROR_MOD_NOT_FOUND}
    ${EndIf}
  ${EndIf}
  Push KVXSetup_PnPInstallKVX
  Call LogResult
  Pop $R1
  Pop $R0
FunctionEnd

; KVXSetup_PnPRemoveKVX(): stops the service, removes the boards' drivers, services, INFs
; and driver binaries.
Function un.CallPnPRemoveKVX
  ${If} ${RunningX64}
    ${Log} "path: 64-bit host, KVXSetup_PnPRemoveKVX()"
    Push remove
    Call un.RunHost64
  ${Else}
    ${Log} "path: in-process, $INSTDIR\KVXSETUPW2K.dll, KVXSetup_PnPRemoveKVX()"
    System::Call `"$INSTDIR\KVXSETUPW2K.dll"::KVXSetup_PnPRemoveKVX() i .s ? u`
    Pop $Result
    ${If} $Result == "error"
      ${Log} "KVXSETUPW2K.dll or its export KVXSetup_PnPRemoveKVX could not be loaded"
      StrCpy $Result ${KVX_ERROR_MOD_NOT_FOUND}
    ${EndIf}
  ${EndIf}
  Push KVXSetup_PnPRemoveKVX
  Call un.LogResult
FunctionEnd
