; The install folder, protected before anything is copied into it. From this folder the
; uninstaller runs as an administrator, the 64-bit host runs elevated and the module loads
; into the setup program: a folder that inherits its permissions (from C:\ with /D=C:\Kvx,
; where users may create and change files) would let a user's program run with those
; rights. So the folder gets its own ACL, inherited by all it holds: Administrators and
; SYSTEM full control, Users read and execute, nothing from the parent. A folder that is
; already there is used only when an administrator, SYSTEM or the account running setup
; owns it and it is no reparse point (a link to another place); anything else is refused
; with 87 before any change.

!include LogicLib.nsh

!define KVX_FILE_ATTRIBUTE_REPARSE_POINT 0x400
!define KVX_SE_FILE_OBJECT 1
!define KVX_OWNER_SECURITY_INFORMATION 1
; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION: the ACL given, and no
; entries inherited from the parent.
!define KVX_PROTECTED_DACL 0x80000004
; Administrators (BA) and SYSTEM (SY) full control, Users (BU) read and execute
; (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), each inherited by files and folders (OICI); P
; for protected.
!define KVX_FOLDER_SDDL "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
!define KVX_FOLDER_ACL_TEXT "Administrators and SYSTEM full control, Users read and execute, nothing inherited from the parent folder"

; Ends the run, nothing changed, with the reason on the stack.
Function RefuseInstallFolder
  Exch $R0
  MessageBox MB_OK|MB_ICONSTOP "Setup cannot install in $INSTDIR: $R0$\r$\n$\r$\nChoose a folder that does not exist yet, or one that only administrators can change. Nothing was changed on this computer. The log is $LogFile." /SD IDOK
  ${ExitWith} ${KVX_EXIT_BAD_ARGUMENT} "refused: $R0"
  Pop $R0
  Abort
FunctionEnd

; The string form of a SID (its pointer on the stack), "" when it cannot be converted.
Function SidText
  Exch $R0
  Push $R1
  System::Call 'advapi32::ConvertSidToStringSidW(p R0, *p .R1) i .R0'
  ${If} $R0 <> 0
    System::Call '*$R1(&w${NSIS_MAX_STRLEN} .R0)'
    System::Call 'kernel32::LocalFree(p R1)'
  ${Else}
    StrCpy $R0 ""
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd

; The account running setup, as a SID string ("" when it cannot be read).
Var RunningAccount
Function ReadRunningAccount
  Push $R0
  Push $R1
  Push $R2
  StrCpy $RunningAccount ""
  ; TOKEN_QUERY; TokenUser: a TOKEN_USER, whose first field points to the SID.
  System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .R0) i .R1'
  ${If} $R1 <> 0
    System::Alloc 512
    Pop $R1
    System::Call 'advapi32::GetTokenInformation(p R0, i 1, p R1, i 512, *i .R2) i .R2'
    ${If} $R2 <> 0
      System::Call '*$R1(p .R2)'
      Push $R2
      Call SidText
      Pop $RunningAccount
    ${EndIf}
    System::Free $R1
    System::Call 'kernel32::CloseHandle(p R0)'
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

Function RefuseFolderOfOthers
  Push $R0
  Push $R1
  Push $R2
  System::Call 'kernel32::GetFileAttributesW(w "$INSTDIR") i .R0'
  ${If} $R0 <> -1
    IntOp $R1 $R0 & ${KVX_FILE_ATTRIBUTE_REPARSE_POINT}
    ${If} $R1 <> 0
      Push "the folder is a reparse point (a link to another place)."
      Call RefuseInstallFolder
    ${EndIf}
    System::Call 'advapi32::GetNamedSecurityInfoW(w "$INSTDIR", i ${KVX_SE_FILE_OBJECT}, i ${KVX_OWNER_SECURITY_INFORMATION}, *p .R1, p 0, p 0, p 0, *p .R2) i .R0'
    ${If} $R0 = 0
      Push $R1
      Call SidText
      Pop $R0
      System::Call 'kernel32::LocalFree(p R2)'
      Call ReadRunningAccount
      ${Log} "$INSTDIR exists, owned by $R0"
      ${If} $R0 == ""
      ${OrIf} $R0 != "S-1-5-32-544"
      ${AndIf} $R0 != "S-1-5-18"
      ${AndIf} $R0 != $RunningAccount
        Push "the folder exists and belongs to another account ($R0), which could change the files setup puts there."
        Call RefuseInstallFolder
      ${EndIf}
    ${Else}
      ${Log} "$INSTDIR exists; its owner could not be read (error $R0)"
      Push "the folder exists and its owner could not be read (error $R0)."
      Call RefuseInstallFolder
    ${EndIf}
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

Function ProtectInstallFolder
  Push $R0
  Push $R1
  Push $R2
  Call RefuseFolderOfOthers
  CreateDirectory "$INSTDIR"
  ; SDDL revision 1; the descriptor is built here, from text, on Windows 2000 as well.
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${KVX_FOLDER_SDDL}", i 1, *p .R0, p 0) i .R1'
  ${If} $R1 = 0
    Push "its permissions could not be built."
    Call RefuseInstallFolder
  ${EndIf}
  System::Call 'advapi32::GetSecurityDescriptorDacl(p R0, *i .R1, *p .R2, *i .R1) i .R1'
  System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i ${KVX_SE_FILE_OBJECT}, i ${KVX_PROTECTED_DACL}, p 0, p 0, p R2, p 0) i .R1'
  System::Call 'kernel32::LocalFree(p R0)'
  ${If} $R1 = 0
    ${Log} "install folder $INSTDIR: ACL set: ${KVX_FOLDER_ACL_TEXT}"
  ${Else}
    Push "its permissions could not be set (error $R1)."
    Call RefuseInstallFolder
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
