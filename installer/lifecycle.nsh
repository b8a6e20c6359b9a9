; What this run is to the installation already on the machine: a first install, a repair
; (the same version), an update (a newer one); refused when a newer version is installed,
; or when the product's Windows Installer package is.

!include LogicLib.nsh
!include WordFunc.nsh
!include x64.nsh

; The installed version from the Add/Remove Programs entry, "" without one; and what this
; run does: "install", "repair" or "update".
Var InstalledVersion
Var SetupAction

; One installation per machine, whichever package made it: the package's entry and this
; program's would each lead to an uninstaller that removes the other's drivers. The
; package is found by its UpgradeCode, which every version of it has.
!macro KvxQuitIfPackageInstalled UPGRADE_CODE
  System::Call 'msi::MsiEnumRelatedProductsW(w "${UPGRADE_CODE}", i 0, i 0, w .R0) i .R1'
  ${If} $R1 == 0
    MessageBox MB_OK|MB_ICONSTOP "The ${KVX_PRODUCT_NAME} are installed on this computer by their Windows Installer package (KvxDrivers-x86.msi or KvxDrivers-x64.msi, product code $R0).$\r$\n$\r$\nThere can be only one installation on a computer. To use this setup program instead, first remove the package in Add or Remove Programs, or with:$\r$\n    msiexec /x $R0 /qn$\r$\n$\r$\nNothing was changed. The log is $LogFile." /SD IDOK
    ${ExitWith} ${KVX_EXIT_PRODUCT_VERSION} "refused: the Windows Installer package is installed, product code $R0 (UpgradeCode ${UPGRADE_CODE})"
    Quit
  ${EndIf}
!macroend
Function QuitIfPackageInstalled
  Push $R0
  Push $R1
  !insertmacro KvxQuitIfPackageInstalled "${KVX_MSI_UPGRADE_CODE_X86}"
  !insertmacro KvxQuitIfPackageInstalled "${KVX_MSI_UPGRADE_CODE_X64}"
  Pop $R1
  Pop $R0
FunctionEnd

; Reads the installed version and decides what this run is; refuses an older version over
; a newer one, silent or not, since the newer one's drivers would be replaced by older ones.
Function ChooseSetupAction
  Push $R0
  ReadRegStr $InstalledVersion HKLM "${KVX_UNINSTALL_KEY}" "DisplayVersion"
  ${If} $InstalledVersion == ""
    StrCpy $SetupAction install
    ${Log} "installed version: none"
  ${Else}
    ${VersionCompare} $InstalledVersion ${KVX_VERSION} $R0
    ${If} $R0 = 0
      StrCpy $SetupAction repair
      ${Log} "installed version: $InstalledVersion; this run repairs it"
    ${ElseIf} $R0 = 2
      StrCpy $SetupAction update
      ${Log} "installed version: $InstalledVersion; this run updates it to ${KVX_VERSION}"
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "Version $InstalledVersion of the ${KVX_PRODUCT_NAME} is installed on this computer. This setup program installs the older version ${KVX_VERSION}.$\r$\n$\r$\nNothing was changed. To install ${KVX_VERSION}, first remove $InstalledVersion in Add or Remove Programs.$\r$\n$\r$\nThe log is $LogFile." /SD IDOK
      ${ExitWith} ${KVX_EXIT_PRODUCT_VERSION} "refused: version $InstalledVersion is installed, newer than ${KVX_VERSION}"
      Quit
    ${EndIf}
  ${EndIf}
  ${If} $SetupAction == repair
    StrCpy $DirectoryText "Version $InstalledVersion of the ${KVX_PRODUCT_NAME} is installed in the following folder. Setup repairs it there: the drivers are installed again. Click Install to start the repair."
  ${ElseIf} $SetupAction == update
    StrCpy $DirectoryText "Version $InstalledVersion of the ${KVX_PRODUCT_NAME} is installed in the following folder. Setup updates it there to ${KVX_VERSION}; to install elsewhere, remove it first in Add or Remove Programs. Click Install to start the update."
  ${EndIf}
  Pop $R0
FunctionEnd

; The progress page's and the log's first line of the work.
Function TellSetupAction
  ${If} $SetupAction == repair
    ${Tell} "Repairing $InstalledVersion"
  ${ElseIf} $SetupAction == update
    ${Tell} "Updating $InstalledVersion to ${KVX_VERSION}"
  ${Else}
    ${Tell} "Installing ${KVX_VERSION}"
  ${EndIf}
FunctionEnd
