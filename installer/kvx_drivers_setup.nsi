; The product installer of the KVX board drivers: copies KVXSETUPW2K.dll, its console hosts
; and the driver packages under Program Files, has the module install the drivers, and
; writes an uninstaller that has the module remove them again.
;
; Built by scripts/build-installer, which passes every value that belongs to the build:
;   makensis /DKVX_VERSION=1.0.0.0 /DKVX_X86_DIR=... /DKVX_X64_DIR=... /DKVX_PACKAGE_LIST=...
;            /DKVX_FIRST_INF=kvxdz4x.inf /DKVX_SECOND_INF=kvxhxhw.inf /DKVX_OUTFILE=...
;            kvx_drivers_setup.nsi
;
; Silent with /S (which never restarts the computer: /norestart is accepted and is what
; silent mode does anyway). Exit code: 0 when the drivers are installed, 3010 when they are
; and a restart finishes the job, the module's error code when it failed (nothing of the
; product is left then), 1 when the user cancelled, 2 when NSIS aborted, 5 without
; administrator rights, 1150 before Windows 2000, 1638 when another installation of the
; product is on the machine (a different /D=, or an uninstaller whose entry went elsewhere).
; The log, made anew by each run: %TEMP%\KvxDriversSetup.log (KvxDriversUninstall.log for
; the uninstaller).

Unicode true
SetCompressor /SOLID lzma

!macro KvxRequireDefine NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: build with scripts/build-installer, or pass /D${NAME}=..."
  !endif
!macroend
!insertmacro KvxRequireDefine KVX_VERSION
!insertmacro KvxRequireDefine KVX_X86_DIR
!insertmacro KvxRequireDefine KVX_X64_DIR
!insertmacro KvxRequireDefine KVX_PACKAGE_LIST
!insertmacro KvxRequireDefine KVX_FIRST_INF
!insertmacro KvxRequireDefine KVX_SECOND_INF
!insertmacro KvxRequireDefine KVX_OUTFILE
!insertmacro KvxRequireDefine KVX_INSTALL_SIZE_KB
!insertmacro KvxRequireDefine KVX_README

!define KVX_PRODUCT_NAME "Kavexa KVX Board Drivers"
!define KVX_PUBLISHER "Kavexa Systems Inc"
!define KVX_INSTALL_FOLDER "Kavexa KVX Board Drivers"
!define KVX_ERROR_ACCESS_DENIED 5
!define KVX_ERROR_OLD_WIN_VERSION 1150
; ERROR_PRODUCT_VERSION, "Another version of this product is already installed": the code
; deployment tools already read as "this machine has the product; use the installed one".
!define KVX_ERROR_PRODUCT_VERSION 1638

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include WinVer.nsh
!addincludedir "${__FILEDIR__}"
!include log.nsh
!include module_calls.nsh
!include "${KVX_PACKAGE_LIST}"
!include product_files.nsh
!include system_dlls.nsh
!include package_check.nsh
!include folder_protection.nsh

Name "${KVX_PRODUCT_NAME} ${KVX_VERSION}"
OutFile "${KVX_OUTFILE}"
; Device installation needs an administrator; on Windows 2000 this is checked in .onInit.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "${KVX_PUBLISHER}"

VIProductVersion "${KVX_VERSION}"
VIFileVersion "${KVX_VERSION}"

; What the finish pages say happened, and the directory page's text.
Var FinishSummary
Var DirectoryText
; The folder of the installation already on the machine, "" without one.
Var ExistingFolder
; The product's items the first inventory found: an earlier release the install removes.
Var EarlierItems

!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT LogCancel
!define MUI_CUSTOMFUNCTION_UNABORT un.LogCancel
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

!define MUI_WELCOMEPAGE_TITLE "Welcome to the setup of the ${KVX_PRODUCT_NAME} ${KVX_VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Setup installs the drivers of the Kavexa DZ4X and HX boards in this computer. An earlier release of the drivers is removed first.$\r$\n$\r$\nClose the programs that use the boards before you continue.$\r$\n$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_TEXT "Read me"
!define MUI_PAGE_HEADER_SUBTEXT "What setup does, and what to do afterwards."
!define MUI_LICENSEPAGE_TEXT_TOP "Please read the following before you install the drivers."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Click Next to continue."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${KVX_README}"
!define MUI_DIRECTORYPAGE_TEXT_TOP "$DirectoryText"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowDirectoryPage
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE LeaveDirectoryPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "The drivers are installed"
!define MUI_FINISHPAGE_TEXT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOTNOW "Restart now"
!define MUI_FINISHPAGE_TEXT_REBOOTLATER "I will restart later"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "The drivers of the Kavexa DZ4X and HX boards will be removed from this computer: the boards stop working until drivers are installed again. Their services and driver packages go too, then the program files in this folder:"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "The drivers are removed"
!define MUI_FINISHPAGE_TEXT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOTNOW "Restart now"
!define MUI_FINISHPAGE_TEXT_REBOOTLATER "I will restart later"
!insertmacro MUI_UNPAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${KVX_PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${KVX_PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${KVX_PRODUCT_NAME} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${KVX_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${KVX_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright ${KVX_PUBLISHER}"

; On 64-bit Windows the product's drivers and its working host are 64-bit, so its folder is
; the 64-bit Program Files and its Add/Remove Programs entry the 64-bit registry view, where
; the system's own tools look first. A folder given with /D=... is kept.
!macro KvxUseMachineViews
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

Function .onInit
  !insertmacro KvxUseMachineViews
  Push "$TEMP\KvxDriversSetup.log"
  Call StartLog
  Call LoadSystemSetupDlls
  Call QuitBeforeWindows2000
  Call QuitUnlessAdministrator
  StrCpy $DirectoryText "Setup installs the drivers' program files in the following folder. To install in a different folder, click Browse and select another folder. Click Install to start the installation."
  Call UseExistingInstallation
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\${KVX_INSTALL_FOLDER}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${KVX_INSTALL_FOLDER}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro KvxUseMachineViews
  Push "$TEMP\KvxDriversUninstall.log"
  Call un.StartLog
  Call un.LoadSystemSetupDlls
  Call un.QuitUnlessAdministrator
  Call un.QuitUnlessOwnEntry
FunctionEnd

; One installation per machine: the drivers on the machine belong to one entry, so a second
; folder would leave two uninstallers that each remove the other's drivers. An installation
; already there is updated in its own folder; another folder is refused.
Function UseExistingInstallation
  Push $R0
  Push $R1
  Push $R2
  !insertmacro KvxReadEntryLocation
  ${If} $R0 != ""
    ${Log} "an installation is in $R0 (Add/Remove Programs entry)"
    StrCpy $ExistingFolder $R0
    ${If} $R1 == ""
      StrCpy $INSTDIR $R0
    ${ElseIf} $R1 != $R0
      ${Log} "refused: /D=$R1 is not the installation's folder; exit code ${KVX_ERROR_PRODUCT_VERSION}"
      MessageBox MB_OK|MB_ICONSTOP "The ${KVX_PRODUCT_NAME} are already installed on this computer, in $R0.$\r$\n$\r$\nThere can be only one installation on a computer. To update it, run setup without choosing a folder; to install in $R1 instead, first remove the installed drivers in Add or Remove Programs.$\r$\n$\r$\nNothing was changed. The log is $LogFile." /SD IDOK
      SetErrorLevel ${KVX_ERROR_PRODUCT_VERSION}
      Quit
    ${EndIf}
    StrCpy $DirectoryText "The ${KVX_PRODUCT_NAME} are already installed in the following folder. Setup updates them there; to install them elsewhere, remove them first in Add or Remove Programs. Click Install to start the update."
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; The folder of an installation already there is not the customer's to change here. The
; folder field is made read-only rather than disabled: it has the keyboard focus, and a
; disabled one would leave the page deaf to the keyboard.
!define KVX_EM_SETREADONLY 0x00CF
Function ShowDirectoryPage
  ${If} $ExistingFolder != ""
    Push $R0
    FindWindow $R0 "#32770" "" $HWNDPARENT
    GetDlgItem $R0 $R0 1019
    SendMessage $R0 ${KVX_EM_SETREADONLY} 1 0
    FindWindow $R0 "#32770" "" $HWNDPARENT
    GetDlgItem $R0 $R0 1001
    EnableWindow $R0 0
    Pop $R0
  ${EndIf}
FunctionEnd

Function LeaveDirectoryPage
  ${If} $ExistingFolder != ""
    Push $R0
    Push $R1
    Push $R2
    !insertmacro KvxReadEntryLocation
    ${If} $R1 != $R0
      MessageBox MB_OK|MB_ICONEXCLAMATION "The ${KVX_PRODUCT_NAME} are already installed in $R0, and are updated there. To install them elsewhere, first remove them in Add or Remove Programs."
      StrCpy $INSTDIR $R0
      Pop $R2
      Pop $R1
      Pop $R0
      Abort
    ${EndIf}
    Pop $R2
    Pop $R1
    Pop $R0
  ${EndIf}
FunctionEnd

; An uninstaller left in a folder whose installation was replaced by one elsewhere must not
; take the drivers, and the entry, of the installation that owns them now.
Function un.QuitUnlessOwnEntry
  Push $R0
  Push $R1
  Push $R2
  !insertmacro KvxReadEntryLocation
  ${If} $R0 != ""
  ${AndIf} $R0 != $R1
    ${Log} "refused: the Add/Remove Programs entry belongs to $R0, this uninstaller to $R1; exit code ${KVX_ERROR_PRODUCT_VERSION}"
    MessageBox MB_OK|MB_ICONSTOP "This uninstaller belongs to an earlier installation in $R1. The ${KVX_PRODUCT_NAME} on this computer are the installation in $R0.$\r$\n$\r$\nNothing was removed. To remove the drivers, use Add or Remove Programs.$\r$\n$\r$\nThe log is $LogFile." /SD IDOK
    SetErrorLevel ${KVX_ERROR_PRODUCT_VERSION}
    Quit
  ${EndIf}
  ${If} $R0 == ""
    ${Log} "no Add/Remove Programs entry: removing the drivers this uninstaller's folder holds"
  ${EndIf}
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

!macro KvxLogCancel UN
Function ${UN}LogCancel
  ${Log} "cancelled by the user; exit code 1"
FunctionEnd
!macroend
!insertmacro KvxLogCancel ""
!insertmacro KvxLogCancel "un."

; A Unicode installer also starts on Windows NT 4.0, which lacks the Plug and Play
; functions the module calls.
Function QuitBeforeWindows2000
  ${IfNot} ${AtLeastWin2000}
    ${Log} "Windows older than 2000: the drivers need Windows 2000 or later; exit code ${KVX_ERROR_OLD_WIN_VERSION}"
    MessageBox MB_OK|MB_ICONSTOP "The ${KVX_PRODUCT_NAME} need Windows 2000 or later." /SD IDOK
    SetErrorLevel ${KVX_ERROR_OLD_WIN_VERSION}
    Quit
  ${EndIf}
FunctionEnd

!macro KvxAdministratorCheck UN
; Windows 2000 starts the installer with the user's own rights whatever it requests.
Function ${UN}QuitUnlessAdministrator
  Push $R0
  UserInfo::GetAccountType
  Pop $R0
  ${If} $R0 != "Admin"
    ${Log} "account type $R0: installing drivers needs an administrator; exit code ${KVX_ERROR_ACCESS_DENIED}"
    MessageBox MB_OK|MB_ICONSTOP "Installing or removing the ${KVX_PRODUCT_NAME} needs an administrator account." /SD IDOK
    SetErrorLevel ${KVX_ERROR_ACCESS_DENIED}
    Quit
  ${EndIf}
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxAdministratorCheck ""
!insertmacro KvxAdministratorCheck "un."

; Shows what failed, in the customer's words, with the module's code and message (OK in
; silent mode), and makes the module's result the exit code. The text before the code is on
; the stack.
!macro KvxReportFailure UN
Function ${UN}ReportFailure
  Exch $R0
  Push $R1
  Push $Result
  Call ${UN}SystemMessage
  Pop $R1
  IntFmt $R1 "Error $Result (0x%08x): $R1" $Result
  ${Log} "failed: $R1; exit code $Result"
  ${Log} "message shown: $R0"
  MessageBox MB_OK|MB_ICONSTOP "$R0$\r$\n$\r$\n$R1$\r$\n$\r$\nThe log is $LogFile." /SD IDOK
  SetErrorLevel $Result
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxReportFailure ""
!insertmacro KvxReportFailure "un."

; A failed install has taken the earlier release off and may have put one family's drivers
; on: the module's removal takes those off again, so that no driver, service or INF of the
; product stays on the machine without an entry that owns it. The install's result stays the
; exit code.
Function UndoFailedInstall
  Push $R0
  Push $R1
  StrCpy $R0 $Result
  ${Tell} "The board drivers could not be installed: removing what setup had installed"
  Call CallPnPRemoveKVX
  Call TakeInventory
  Call TakeBackProductFiles
  Call DeleteEntryOfTakenBackInstallation
  StrCpy $Result $R0
  StrCpy $R1 "The ${KVX_PRODUCT_NAME} could not be installed."
  ${If} $EarlierItems > 0
    StrCpy $R1 "$R1$\r$\n$\r$\nThe earlier release of the drivers that was on this computer had already been removed, as every installation does first."
  ${EndIf}
  ${If} $ProductItems = 0
    ${Tell} "Setup failed (error $Result); nothing of the drivers remains on this computer"
    StrCpy $R1 "$R1$\r$\n$\r$\nSetup has removed what it had installed: nothing of the drivers remains on this computer, and the boards have no driver until an installation succeeds."
  ${Else}
    ${Tell} "Setup failed (error $Result); $ProductItems item(s) of the drivers remain on this computer"
    StrCpy $R1 "$R1$\r$\n$\r$\nSetup could not remove everything it had installed: $ProductItems item(s) of the drivers remain on this computer (listed in the log)."
  ${EndIf}
  ${If} ${RebootFlag}
    StrCpy $R1 "$R1 Restart the computer to finish removing them."
  ${EndIf}
  Push $R1
  Call ReportFailure
  Pop $R1
  Pop $R0
FunctionEnd

Section "Install"
  AddSize ${KVX_INSTALL_SIZE_KB}
  Call CheckRoomForProgramFiles
  Call CheckDriverPackages
  Call ProtectInstallFolder
  Call CopyProductFiles
  ${Tell} "Looking for the boards and for drivers already installed"
  Call TakeInventory
  StrCpy $EarlierItems $ProductItems
  ${If} $EarlierItems > 0
    ${Tell} "Removing the drivers already installed, then installing the board drivers"
  ${Else}
    ${Tell} "Installing the board drivers"
  ${EndIf}
  Call CallPnPInstallKVX
  ${If} $Result <> 0
    Call UndoFailedInstall
    Abort
  ${EndIf}
  Call WriteUninstallEntry
  Call TakeInventory
  StrCpy $FinishSummary "The ${KVX_PRODUCT_NAME} ${KVX_VERSION} are installed in $INSTDIR."
  ${If} $InventoryTaken = 1
    StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nBoards found: $BoardsFound; running the new driver: $BoardsWithDriver."
    ${Tell} "Boards found: $BoardsFound; running the new driver: $BoardsWithDriver"
  ${Else}
    StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nBoards found: unknown (the inventory could not be taken; the log says why)."
    ${Tell} "Boards found: unknown (the inventory could not be taken)"
  ${EndIf}
  ${If} $EarlierItems > 0
    StrCpy $FinishSummary "$FinishSummary$\r$\nThe earlier release of the drivers was removed."
    ${Tell} "The earlier release of the drivers was removed"
  ${EndIf}
  Call SummariseRestart
  StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nThe log of this setup: $LogFile"
SectionEnd

Section "Uninstall"
  ${Tell} "Removing the board drivers, their services and driver packages"
  Call un.CallPnPRemoveKVX
  ; Without the module's work the drivers stay, so the files and the entry that can
  ; remove them stay too.
  ${If} $Result <> 0
    Push "The drivers of the boards could not be removed. The program files and the entry in Add or Remove Programs are kept, so that you can try again."
    Call un.ReportFailure
    Abort
  ${EndIf}
  Call un.DeleteProductFiles
  Call un.DeleteUninstallEntry
  StrCpy $FinishSummary "The ${KVX_PRODUCT_NAME} are removed from this computer."
  Call un.SummariseRestart
  StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nThe log: $LogFile"
SectionEnd

; Says whether a restart is needed, and makes it the exit code: 3010 tells a deployment tool
; to restart when it sees fit. Silent mode never restarts by itself.
!macro KvxSummariseRestart UN
Function ${UN}SummariseRestart
  ${If} ${RebootFlag}
    StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nA driver file or service was in use: restart the computer to finish."
    ${Tell} "Restart the computer to finish"
    ${Log} "done, restart pending; exit code ${KVX_RESTART_PENDING}"
    SetErrorLevel ${KVX_RESTART_PENDING}
  ${Else}
    ${Tell} "Done; no restart is needed"
    ${Log} "done; exit code 0"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro KvxSummariseRestart ""
!insertmacro KvxSummariseRestart "un."
