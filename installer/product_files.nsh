; What the installer puts into the install folder, how it takes it back, and the Add/Remove
; Programs entry.

!include LogicLib.nsh
!include FileFunc.nsh

!define KVX_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KvxBoardDrivers"
!define KVX_UNINSTALLER "uninstall.exe"

; A signed release signs the uninstaller that the installer carries and writes at install
; time, as it signs the installer itself: Add/Remove Programs runs it as an administrator.
!ifdef KVX_SIGN_UNINSTALLER
  !uninstfinalize '"${KVX_SIGN_UNINSTALLER}" "%1"' = 0
!endif

; A file of the install folder that is in use (a host someone runs, the module loaded by a
; program) cannot be replaced now: the new one is written beside it and renamed over it at the
; next restart, which the run's 3010 asks for, rather than the old one kept without a word.
!macro KvxPutFile SOURCE NAME
  SetOverwrite try
  ClearErrors
  File "${SOURCE}"
  ${If} ${Errors}
    SetOverwrite on
    File "/oname=$OUTDIR\${NAME}.new" "${SOURCE}"
    Rename /REBOOTOK "$OUTDIR\${NAME}.new" "$OUTDIR\${NAME}"
    ${Log} "$OUTDIR\${NAME} is in use: the new one replaces it at the next restart"
  ${EndIf}
  SetOverwrite on
!macroend

; Both builds of the module and its console host, and the driver packages. The pair at the
; top of the folder is the machine's own width, so that the kvxsetup.exe a support engineer
; finds there answers truly: a 32-bit host on 64-bit Windows sees system32 redirected. The
; other pair waits in its own folder: x86\ on 64-bit Windows (what a 32-bit program loads),
; x64\ on 32-bit Windows (to copy to a 64-bit machine).
Function CopyProductFiles
  ${Tell} "Copying the program files to $INSTDIR"
  ; The file names are the engineer's business: the customer sees the line above.
  SetDetailsPrint none
  ${If} ${RunningX64}
    SetOutPath "$INSTDIR"
    !insertmacro KvxPutFile "${KVX_X64_DIR}\KVXSETUPW2K.dll" KVXSETUPW2K.dll
    !insertmacro KvxPutFile "${KVX_X64_DIR}\kvxsetup.exe" kvxsetup.exe
    SetOutPath "$INSTDIR\x86"
    !insertmacro KvxPutFile "${KVX_X86_DIR}\KVXSETUPW2K.dll" KVXSETUPW2K.dll
    !insertmacro KvxPutFile "${KVX_X86_DIR}\kvxsetup.exe" kvxsetup.exe
  ${Else}
    SetOutPath "$INSTDIR"
    !insertmacro KvxPutFile "${KVX_X86_DIR}\KVXSETUPW2K.dll" KVXSETUPW2K.dll
    !insertmacro KvxPutFile "${KVX_X86_DIR}\kvxsetup.exe" kvxsetup.exe
    !insertmacro KvxPutFile "${KVX_SETUP_CALLS}" KvxSetupCalls.dll
    SetOutPath "$INSTDIR\x64"
    !insertmacro KvxPutFile "${KVX_X64_DIR}\KVXSETUPW2K.dll" KVXSETUPW2K.dll
    !insertmacro KvxPutFile "${KVX_X64_DIR}\kvxsetup.exe" kvxsetup.exe
  ${EndIf}
  !insertmacro KvxCopyDriverPackages
  SetOutPath "$INSTDIR"
  SetDetailsPrint both
FunctionEnd

; Deletes what CopyProductFiles and WriteUninstallEntry put there, file by file, and each
; folder only when nothing else is left in it: the install folder may be one the user chose
; with /D=, holding files of their own, even a drivers folder.
!macro KvxDeleteProductFiles
  Delete "$INSTDIR\KVXSETUPW2K.dll"
  Delete "$INSTDIR\kvxsetup.exe"
  Delete "$INSTDIR\KvxSetupCalls.dll"
  Delete "$INSTDIR\x64\KVXSETUPW2K.dll"
  Delete "$INSTDIR\x64\kvxsetup.exe"
  RMDir "$INSTDIR\x64"
  Delete "$INSTDIR\x86\KVXSETUPW2K.dll"
  Delete "$INSTDIR\x86\kvxsetup.exe"
  RMDir "$INSTDIR\x86"
  !insertmacro KvxDeleteDriverPackages
  Delete "$INSTDIR\${KVX_UNINSTALLER}"
  RMDir /r "$INSTDIR\~earlier"
  RMDir "$INSTDIR"
!macroend

Function TakeBackProductFiles
  ${Tell} "Removing the program files copied to $INSTDIR"
  SetDetailsPrint none
  SetOutPath "$TEMP"
  !insertmacro KvxDeleteProductFiles
  SetDetailsPrint both
FunctionEnd

Function un.DeleteProductFiles
  ${Tell} "Removing the program files from $INSTDIR"
  SetDetailsPrint none
  SetOutPath "$TEMP"
  !insertmacro KvxDeleteProductFiles
  SetDetailsPrint both
  ${If} ${FileExists} "$INSTDIR\*.*"
    ${Log} "$INSTDIR is left: it holds files this installer did not bring, or the running uninstaller"
  ${EndIf}
FunctionEnd

Function WriteUninstallEntry
  ${Tell} "Adding the drivers to Add or Remove Programs"
  ${Log} "writing $INSTDIR\${KVX_UNINSTALLER} and HKLM\${KVX_UNINSTALL_KEY}"
  SetDetailsPrint none
  WriteUninstaller "$INSTDIR\${KVX_UNINSTALLER}"
  SetDetailsPrint both
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "DisplayName" "${KVX_PRODUCT_NAME}"
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "DisplayVersion" "${KVX_VERSION}"
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "Publisher" "${KVX_PUBLISHER}"
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${KVX_UNINSTALLER},0"
  ; In place (_?=, last and unquoted, as NSIS wants it), so that the command waits for the
  ; removal and returns its exit code: uninstaller_in_place.nsh.
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "UninstallString" `"$INSTDIR\${KVX_UNINSTALLER}" _?=$INSTDIR`
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "QuietUninstallString" `"$INSTDIR\${KVX_UNINSTALLER}" /S _?=$INSTDIR`
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "HelpLink" "${KVX_HELP_LINK}"
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "URLInfoAbout" "${KVX_ABOUT_LINK}"
  Call WriteInstallDate
  WriteRegDWORD HKLM "${KVX_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KVX_UNINSTALL_KEY}" "NoRepair" 1
  Push $R0
  Push $R1
  Push $R2
  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  WriteRegDWORD HKLM "${KVX_UNINSTALL_KEY}" "EstimatedSize" $R0
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; InstallDate, as Windows Installer writes it for its entries: YYYYMMDD, local time.
Function WriteInstallDate
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  System::Alloc 16
  Pop $R0
  System::Call 'kernel32::GetLocalTime(p R0)'
  System::Call '*$R0(&i2 .R1, &i2 .R2, &i2, &i2 .R3)'
  System::Free $R0
  IntFmt $R2 "%02d" $R2
  IntFmt $R3 "%02d" $R3
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "InstallDate" "$R1$R2$R3"
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; A failed update of the installation in this same folder has just taken that installation's
; files back, its uninstaller among them: its entry would lead nowhere.
Function DeleteEntryOfTakenBackInstallation
  Push $R0
  ReadRegStr $R0 HKLM "${KVX_UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 != ""
  ${AndIf} $R0 == $INSTDIR
    ${Log} "deleting the Add/Remove Programs entry of the installation that was in $INSTDIR"
    DeleteRegKey HKLM "${KVX_UNINSTALL_KEY}"
  ${EndIf}
  Pop $R0
FunctionEnd

Function un.DeleteUninstallEntry
  ${Log} "deleting the Add/Remove Programs entry HKLM\${KVX_UNINSTALL_KEY}"
  DeleteRegKey HKLM "${KVX_UNINSTALL_KEY}"
FunctionEnd

; The folder of the installation the Add/Remove Programs entry owns, without a trailing
; backslash, in $R0 ("" without an entry); $R1 is $INSTDIR the same way, to compare.
!macro KvxReadEntryLocation
  ReadRegStr $R0 HKLM "${KVX_UNINSTALL_KEY}" "InstallLocation"
  StrCpy $R1 $INSTDIR
  ${If} $R0 != ""
  ${AndIf} $R0 != "\"
    StrCpy $R2 $R0 1 -1
    ${If} $R2 == "\"
      StrCpy $R0 $R0 -1
    ${EndIf}
  ${EndIf}
  StrCpy $R2 $R1 1 -1
  ${If} $R2 == "\"
    StrCpy $R1 $R1 -1
  ${EndIf}
  ; The installed folder in its 8.3 form (PROGRA~1\...) is the same folder.
  StrCpy $R2 ""
  System::Call 'kernel32::GetLongPathName(t R1, t .R2, i ${NSIS_MAX_STRLEN})'
  ${If} $R2 != ""
    StrCpy $R1 $R2
  ${EndIf}
!macroend
