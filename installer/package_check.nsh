; What the installer checks before it changes anything: room for the program files on the
; install folder's drive, then the driver packages exactly as the module will get them (both
; INFs open, every file they copy is there, the system drive has room for the drivers). The
; module's install removes the earlier release first; a package that cannot be installed
; must be found out before that. A failed check changes nothing and ends with 1603.

!include LogicLib.nsh

!define KVX_CHECK_FOLDER "$PLUGINSDIR\package"

; Ends the run, nothing changed, with the reason on the stack.
Function RefuseBeforeInstall
  Exch $R0
  Push $R1
  StrCpy $R1 "Nothing was changed on this computer."
  ${If} $InstalledVersion != ""
    StrCpy $R1 "Version $InstalledVersion is still installed: nothing was changed on this computer."
  ${EndIf}
  StrCpy $R1 "The ${KVX_PRODUCT_NAME} cannot be installed: $R0$\r$\n$\r$\n$R1 The log is $LogFile."
  ${Log} "message shown: $R1"
  MessageBox MB_OK|MB_ICONSTOP "$R1" /SD IDOK
  ${ExitWith} ${KVX_EXIT_FAILED} "refused before any change: $R0"
  Pop $R1
  Pop $R0
  Abort
FunctionEnd

Function CheckRoomForProgramFiles
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R0 $INSTDIR 3
  System::Call 'kernel32::GetDiskFreeSpaceExW(w R0, *l .R1, p 0, p 0) i .R2'
  ${If} $R2 <> 0
    System::Int64Op ${KVX_INSTALL_SIZE_KB} * 1024
    Pop $R2
    System::Int64Op $R1 < $R2
    Pop $R2
    ${If} $R2 = 1
      System::Int64Op $R1 / 1024
      Pop $R1
      Push "the program files need ${KVX_INSTALL_SIZE_KB} KB on $R0, which has $R1 KB free."
      Call RefuseBeforeInstall
    ${EndIf}
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; The 32-bit host does the check on either width: it reads files and touches no device.
Function CheckDriverPackages
  Push $R0
  Push $R1
  SetDetailsPrint none
  InitPluginsDir
  SetOutPath "${KVX_CHECK_FOLDER}"
  File "/oname=${KVX_CHECK_FOLDER}\kvxsetup.exe" "${KVX_X86_DIR}\kvxsetup.exe"
  !insertmacro KvxCopyDriverPackagesTo "${KVX_CHECK_FOLDER}"
  SetOutPath "$PLUGINSDIR"
  SetDetailsPrint both
  ReadEnvStr $R1 COMSPEC
  ${If} $R1 == ""
    StrCpy $R1 "$SYSDIR\cmd.exe"
  ${EndIf}
  StrCpy $R0 `"${KVX_CHECK_FOLDER}\kvxsetup.exe" check-package "${KVX_CHECK_FOLDER}\${KVX_FIRST_INF}" "${KVX_CHECK_FOLDER}\${KVX_SECOND_INF}"`
  ${Log} "checking the driver packages: $R0"
  nsExec::Exec `"$R1" /D /c "$R0 >"${KVX_HOST_OUTPUT}" 2>&1"`
  Pop $R0
  Push "${KVX_HOST_OUTPUT}"
  Call LogFileLines
  ${If} $R0 != 0
    ; The host's own line names the INF, the missing file or the space.
    StrCpy $R1 "the check of the driver packages could not be run ($R0)."
    ClearErrors
    FileOpen $R0 "${KVX_HOST_OUTPUT}" r
    ${IfNot} ${Errors}
      FileRead $R0 $R1
      FileClose $R0
      Push $R1
      Call TrimLineEnd
      Pop $R1
      StrCpy $R0 $R1 10
      ${If} $R0 == "kvxsetup: "
        StrCpy $R1 $R1 "" 10
      ${EndIf}
    ${EndIf}
    Push $R1
    Call RefuseBeforeInstall
  ${EndIf}
  RMDir /r "${KVX_CHECK_FOLDER}"
  Pop $R1
  Pop $R0
FunctionEnd
