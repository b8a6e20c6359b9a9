; The system's own setupapi.dll and newdev.dll for the module that the installer and the
; uninstaller load in-process, and SetupAPI without dialogs in a silent run.
;
; Windows 2000 and XP do not count setupapi.dll and newdev.dll among the KnownDLLs: loaded
; as the module's imports, they would be searched for first in the folder of the running
; setup program, which is where the customer put it (a download folder, a stick), and a
; DLL of that name planted there would run with an administrator's rights. Loaded first by
; their full paths in the system folder, they are the ones the module's imports bind to.

!include LogicLib.nsh

!macro KvxSystemDllFunctions UN
Function ${UN}LoadSystemSetupDlls
  Push $R0
  ; Where the system has it (XP SP1 and later), the current folder leaves the search too.
  System::Call 'kernel32::SetDllDirectoryW(w "")'
  System::Call 'kernel32::LoadLibraryW(w "$SYSDIR\setupapi.dll") p .R0'
  ${If} $R0 = 0
    ${Log} "$SYSDIR\setupapi.dll could not be loaded"
  ${EndIf}
  System::Call 'kernel32::LoadLibraryW(w "$SYSDIR\newdev.dll") p .R0'
  ${If} $R0 = 0
    ${Log} "$SYSDIR\newdev.dll could not be loaded"
  ${EndIf}
  ; No "Files Needed" dialog where no one may see it: what is missing fails instead of
  ; waiting. The call exists from Windows XP on.
  ${If} ${Silent}
    System::Call 'setupapi::SetupSetNonInteractiveMode(i 1) i .R0'
    ${If} $R0 != "error"
      ${Log} "SetupAPI set to show no dialogs"
    ${EndIf}
  ${EndIf}
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxSystemDllFunctions ""
!insertmacro KvxSystemDllFunctions "un."
