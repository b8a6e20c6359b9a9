; The exit codes of the setup program and its uninstaller: Windows Installer's, which every
; deployment tool already reads, so that a code means one thing whoever ran the program. The
; module's own result never becomes an exit code: it is in the message, the log and the
; LastRun record, where a support engineer looks for it.

!include LogicLib.nsh

!define KVX_EXIT_DONE 0
; ERROR_INVALID_PARAMETER: an unknown switch, or a folder the installation cannot use.
!define KVX_EXIT_BAD_ARGUMENT 87
; ERROR_OLD_WIN_VERSION.
!define KVX_EXIT_OLD_WINDOWS 1150
; ERROR_INSTALL_USEREXIT.
!define KVX_EXIT_CANCELLED 1602
; ERROR_INSTALL_FAILURE.
!define KVX_EXIT_FAILED 1603
; ERROR_INSTALL_ALREADY_RUNNING.
!define KVX_EXIT_BUSY 1618
; ERROR_PRODUCT_VERSION, "Another version of this product is already installed".
!define KVX_EXIT_PRODUCT_VERSION 1638
; ERROR_SUCCESS_REBOOT_REQUIRED: done, and a restart finishes what was in use.
!define KVX_EXIT_RESTART 3010

; The exit code this run ends with; every way out of a run sets it through KvxExitWith.
Var ExitCode

; ${ExitWith} CODE "why": the run's exit code, with its reason in the log and the LastRun
; record. A later call replaces it: the last decision of the run counts.
!macro KvxExitWith CODE WHY
  StrCpy $ExitCode ${CODE}
  SetErrorLevel ${CODE}
  ${Log} "${WHY}; exit code ${CODE}"
  !ifdef __UNINSTALL__
    Call un.WriteLastRun
  !else
    Call WriteLastRun
  !endif
!macroend
!define ExitWith `!insertmacro KvxExitWith`

!macro KvxExitCodeFunctions UN
; NSIS ends a run stopped by Abort in a section with its own code 2 unless one was set: a
; failure nothing has named yet is still a failure.
Function ${UN}onFailedRun
  ${If} $ExitCode == ""
    ${ExitWith} ${KVX_EXIT_FAILED} "stopped before the end"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro KvxExitCodeFunctions ""
!insertmacro KvxExitCodeFunctions "un."
