; A failed update or repair keeps the version that was installed: before anything changes,
; its program files and driver packages are copied aside inside the install folder (where
; only administrators write); when the new drivers cannot be installed, the copy goes back,
; the earlier drivers are installed again from it, and its entry names its version again.

!include LogicLib.nsh

!define KVX_EARLIER_COPY "$INSTDIR\~earlier"

Var EarlierKept

Function KeepEarlierInstallation
  StrCpy $EarlierKept 0
  ${If} $SetupAction == install
    Return
  ${EndIf}
  ${Log} "keeping a copy of version $InstalledVersion in ${KVX_EARLIER_COPY}"
  SetDetailsPrint none
  RMDir /r "${KVX_EARLIER_COPY}"
  CreateDirectory "${KVX_EARLIER_COPY}"
  ClearErrors
  CopyFiles /SILENT "$INSTDIR\KVXSETUPW2K.dll" "${KVX_EARLIER_COPY}"
  CopyFiles /SILENT "$INSTDIR\kvxsetup.exe" "${KVX_EARLIER_COPY}"
  CopyFiles /SILENT "$INSTDIR\${KVX_UNINSTALLER}" "${KVX_EARLIER_COPY}"
  CopyFiles /SILENT "$INSTDIR\drivers" "${KVX_EARLIER_COPY}"
  ${If} ${FileExists} "$INSTDIR\KvxSetupCalls.dll"
    CopyFiles /SILENT "$INSTDIR\KvxSetupCalls.dll" "${KVX_EARLIER_COPY}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\x86\*.*"
    CopyFiles /SILENT "$INSTDIR\x86" "${KVX_EARLIER_COPY}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\x64\*.*"
    CopyFiles /SILENT "$INSTDIR\x64" "${KVX_EARLIER_COPY}"
  ${EndIf}
  SetDetailsPrint both
  ${IfNot} ${Errors}
    StrCpy $EarlierKept 1
  ${Else}
    ${Log} "the copy of version $InstalledVersion is incomplete: a failed update cannot bring it back"
  ${EndIf}
FunctionEnd

Function DiscardEarlierCopy
  RMDir /r "${KVX_EARLIER_COPY}"
FunctionEnd

; The new drivers failed ($Result): the earlier version's files go back and its drivers are
; installed again. The failure is the new drivers', and the message says which version is
; installed now; exit code 1603.
Function RestoreEarlierInstallation
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R0 $Result
  StrCpy $R1 $ResultText
  StrCpy $R3 $FailedStep
  ${Tell} "The update failed: bringing back version $InstalledVersion"
  SetDetailsPrint none
  CopyFiles /SILENT "${KVX_EARLIER_COPY}\*.*" "$INSTDIR"
  SetDetailsPrint both
  Call DiscardEarlierCopy
  WriteRegStr HKLM "${KVX_UNINSTALL_KEY}" "DisplayVersion" "$InstalledVersion"
  Call CallPnPInstallKVX
  StrCpy $R2 $Result
  StrCpy $Result $R0
  StrCpy $ResultText $R1
  StrCpy $FailedStep $R3
  ${If} $SetupAction == repair
    StrCpy $R0 "The repair of the ${KVX_PRODUCT_NAME} $InstalledVersion failed."
  ${Else}
    StrCpy $R0 "The update of the ${KVX_PRODUCT_NAME} from $InstalledVersion to ${KVX_VERSION} failed."
  ${EndIf}
  ${If} $R2 = 0
    ${Tell} "Version $InstalledVersion is installed again"
    StrCpy $R0 "$R0$\r$\n$\r$\nVersion $InstalledVersion is still installed: its drivers were installed again."
  ${Else}
    ${Tell} "Version $InstalledVersion could not be installed again (error $R2)"
    StrCpy $R0 "$R0$\r$\n$\r$\nVersion $InstalledVersion is still in $INSTDIR, but its drivers could not be installed again (error $R2): run its setup program again, or remove it in Add or Remove Programs."
  ${EndIf}
  ${If} ${RebootFlag}
    StrCpy $R0 "$R0 Restart the computer to finish."
  ${EndIf}
  Push $R0
  Call ReportFailure
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
