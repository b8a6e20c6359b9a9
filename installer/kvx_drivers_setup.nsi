; The product installer of the KVX board drivers: copies KVXSETUPW2K.dll, its console hosts
; and the driver packages under Program Files, has the module install the drivers, and
; writes an uninstaller that has the module remove them again.
;
; Built by scripts/build-installer, which passes every value that belongs to the build:
;   makensis /DKVX_VERSION=1.0.0.0 /DKVX_X86_DIR=... /DKVX_X64_DIR=... /DKVX_PACKAGE_LIST=...
;            /DKVX_FIRST_INF=kvxdz4x.inf /DKVX_SECOND_INF=kvxhxhw.inf /DKVX_OUTFILE=...
;            /DKVX_DRIVER_PROVIDER=... /DKVX_SETUP_CALLS=.../KvxSetupCalls.dll
;            /DKVX_MSI_UPGRADE_CODE_X86=... /DKVX_MSI_UPGRADE_CODE_X64=...
;            [/DKVX_PUBLISHER=...] kvx_drivers_setup.nsi
;
; Silent with /S, /s, /quiet or /qn (which never restart the computer: /norestart is
; accepted and is what silent mode does anyway); switches.nsh has the rest. Exit codes are
; Windows Installer's (exit_codes.nsh): 0 done, 3010 done and a restart finishes the job,
; 1602 cancelled, 1603 failed (nothing of the product is left then; the module's result is
; in the message, the log and the LastRun record), 1618 another run in progress, 1638
; another installation of the product on the machine (a different /D=, or an uninstaller
; whose entry went elsewhere), 87 an unknown switch, 1150 before Windows 2000.
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
; The driver provider the packages' INFs name: what tells a board running their driver.
!insertmacro KvxRequireDefine KVX_DRIVER_PROVIDER
!insertmacro KvxRequireDefine KVX_SETUP_CALLS
!insertmacro KvxRequireDefine KVX_MSI_UPGRADE_CODE_X86
!insertmacro KvxRequireDefine KVX_MSI_UPGRADE_CODE_X64
!insertmacro KvxRequireDefine KVX_RUN_LOCK
!insertmacro KvxRequireDefine KVX_RUN_LOCK_HELD
!insertmacro KvxRequireDefine KVX_ICON
!insertmacro KvxRequireDefine KVX_SIDEBAR
!insertmacro KvxRequireDefine KVX_HELP_LINK
!insertmacro KvxRequireDefine KVX_ABOUT_LINK

!define KVX_PRODUCT_NAME "Kavexa KVX Board Drivers"
!ifndef KVX_PUBLISHER
  !define KVX_PUBLISHER "Kavexa Systems Inc"
!endif
!define KVX_INSTALL_FOLDER "Kavexa KVX Board Drivers"

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include WinVer.nsh
!addincludedir "${__FILEDIR__}"
!include log.nsh
!include exit_codes.nsh
!include switches.nsh
!include run_lock.nsh
!include module_calls.nsh
!include run_outcome.nsh
!include last_run.nsh
!include install_folder.nsh
!include "${KVX_PACKAGE_LIST}"
!include product_files.nsh
!include uninstaller_in_place.nsh
!include system_dlls.nsh
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

!include lifecycle.nsh
!include earlier_version.nsh
!include package_check.nsh

; The product's own face, made by the build from installer/artwork: the programs' icon,
; which MUI also shows in every page's header, and the welcome and finish pages' picture.
!define MUI_ICON "${KVX_ICON}"
!define MUI_UNICON "${KVX_ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${KVX_SIDEBAR}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${KVX_SIDEBAR}"
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
; The summary (its reason for a restart and the log's path) takes the page's large text
; area, so that the restart choice sits below it rather than over it.
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_SHOWREADME "$LogFile"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the log"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_TEXT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOTNOW "Restart now"
!define MUI_FINISHPAGE_TEXT_REBOOTLATER "I will restart later"
; Return on the page must not close the customer's unsaved work.
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowFinishPage
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "The drivers of the Kavexa DZ4X and HX boards will be removed from this computer: the boards stop working until drivers are installed again. Their services and driver packages go too, then the program files in this folder:"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "The drivers are removed"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_SHOWREADME "$LogFile"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the log"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_TEXT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOT "$FinishSummary"
!define MUI_FINISHPAGE_TEXT_REBOOTNOW "Restart now"
!define MUI_FINISHPAGE_TEXT_REBOOTLATER "I will restart later"
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowFinishPage
!insertmacro MUI_UNPAGE_FINISH
!insertmacro MUI_LANGUAGE "English"
!include finish_page.nsh
!insertmacro KvxFinishPageFunctions ""
!insertmacro KvxFinishPageFunctions "un."

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
  Call ReadSwitches
  ; Before the log: each run makes its log anew, and a run refused because another is in
  ; progress must leave that run's log alone.
  Call TakeRunLock
  Push "$TEMP\KvxDriversSetup.log"
  Call StartLog
  Call RefuseSwitches
  Call LoadSystemSetupDlls
  Call QuitBeforeWindows2000
  Call QuitUnlessAdministrator
  Call QuitIfPackageInstalled
  StrCpy $DirectoryText "Setup installs the drivers' program files in the following folder. To install in a different folder, click Browse and select another folder. Click Install to start the installation."
  Call UseExistingInstallation
  Call ChooseSetupAction
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\${KVX_INSTALL_FOLDER}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${KVX_INSTALL_FOLDER}"
    ${EndIf}
  ${EndIf}
  Call QuitUnlessFolderFitsCodePage
FunctionEnd

Function un.onInit
  Call un.DeleteUninstallerIfAsked
  !insertmacro KvxUseMachineViews
  Call un.ReadSwitches
  Call un.TakeRunLock
  Push "$TEMP\KvxDriversUninstall.log"
  Call un.StartLog
  Call un.RefuseSwitches
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
      MessageBox MB_OK|MB_ICONSTOP "The ${KVX_PRODUCT_NAME} are already installed on this computer, in $R0.$\r$\n$\r$\nThere can be only one installation on a computer. To update it, run setup without choosing a folder; to install in $R1 instead, first remove the installed drivers in Add or Remove Programs.$\r$\n$\r$\nNothing was changed. The log is $LogFile." /SD IDOK
      ${ExitWith} ${KVX_EXIT_PRODUCT_VERSION} "refused: /D=$R1 is not the installation's folder"
      Quit
    ${Else}
      ; The same folder, perhaps in its 8.3 form: the entry keeps its own spelling.
      StrCpy $INSTDIR $R0
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
  Push $R0
  Call FolderFitsCodePage
  Pop $R0
  ${If} $R0 = 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "${KVX_FOLDER_REFUSED}"
    Pop $R0
    Abort
  ${EndIf}
  Pop $R0
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
    MessageBox MB_OK|MB_ICONSTOP "This uninstaller belongs to an earlier installation in $R1. The ${KVX_PRODUCT_NAME} on this computer are the installation in $R0.$\r$\n$\r$\nNothing was removed. To remove the drivers, use Add or Remove Programs.$\r$\n$\r$\nThe log is $LogFile." /SD IDOK
    ${ExitWith} ${KVX_EXIT_PRODUCT_VERSION} "refused: the Add/Remove Programs entry belongs to $R0, this uninstaller to $R1"
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
  ${ExitWith} ${KVX_EXIT_CANCELLED} "cancelled by the user"
FunctionEnd
!macroend
!insertmacro KvxLogCancel ""
!insertmacro KvxLogCancel "un."

Function .onInstFailed
  Call onFailedRun
FunctionEnd

Function un.onUninstFailed
  Call un.onFailedRun
FunctionEnd

; A Unicode installer also starts on Windows NT 4.0, which lacks the Plug and Play
; functions the module calls.
Function QuitBeforeWindows2000
  ${IfNot} ${AtLeastWin2000}
    MessageBox MB_OK|MB_ICONSTOP "The ${KVX_PRODUCT_NAME} need Windows 2000 or later." /SD IDOK
    ${ExitWith} ${KVX_EXIT_OLD_WINDOWS} "Windows older than 2000: the drivers need Windows 2000 or later"
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
    MessageBox MB_OK|MB_ICONSTOP "Installing or removing the ${KVX_PRODUCT_NAME} needs an administrator account.$\r$\n$\r$\nNothing was changed. Run setup again as an administrator." /SD IDOK
    ${ExitWith} ${KVX_EXIT_FAILED} "refused: account type $R0; installing drivers needs an administrator"
    Quit
  ${EndIf}
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxAdministratorCheck ""
!insertmacro KvxAdministratorCheck "un."

; Shows what failed, in the customer's words: the step (from the host's report of what the
; system refused), the module's result as unsigned hex with its text, what is on the machine
; now (the text on the stack) and what to do next (OK in silent mode); the run ends with 1603.
!macro KvxReportFailure UN
Function ${UN}ReportFailure
  Exch $R0
  Push $R1
  Push $R2
  ; The host's text knows SetupAPI's codes, which the system's message table lacks.
  StrCpy $R2 $ResultText
  ${If} $R2 == ""
    Push $Result
    Call ${UN}SystemMessage
    Pop $R2
  ${EndIf}
  StrCpy $R1 $R2 1 -1
  ${If} $R1 == "."
    StrCpy $R2 $R2 -1
  ${EndIf}
  IntFmt $R1 "0x%08X" $Result
  StrCpy $R1 "The result: error $R1, $R2."
  ${If} $FailedStep != ""
    StrCpy $R1 "What failed: $FailedStep$\r$\n$R1"
  ${EndIf}
  StrCpy $R0 "$R0$\r$\n$\r$\n$R1$\r$\n$\r$\nWhat to do: correct the cause named above, then run setup again. If it fails again, send the log to your support contact: $LogFile"
  ${Log} "message shown: $R0"
  MessageBox MB_OK|MB_ICONSTOP "$R0" /SD IDOK
  IntFmt $R1 "failed: the module's result 0x%08X" $Result
  ${ExitWith} ${KVX_EXIT_FAILED} "$R1 ($R2)"
  Pop $R2
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
  IntFmt $R0 "0x%08X" $Result
  ${If} $ProductItems = 0
    ${Tell} "Setup failed (error $R0); nothing of the drivers remains on this computer"
    StrCpy $R1 "$R1$\r$\n$\r$\nSetup has removed what it had installed: nothing of the drivers remains on this computer, and the boards have no driver until an installation succeeds."
  ${Else}
    ${Tell} "Setup failed (error $R0); $ProductItems item(s) of the drivers remain on this computer"
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
  Call TellSetupAction
  Call CheckRoomForProgramFiles
  Call CheckDriverPackages
  Call ProtectInstallFolder
  Call KeepEarlierInstallation
  Call CopyProductFiles
  ; Before the module changes anything: an install killed from here on is owned by the
  ; entry, and setup run again finishes it as a repair.
  Call WriteUninstallEntry
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
  ${AndIf} $EarlierKept = 1
    Call RestoreEarlierInstallation
    Abort
  ${ElseIf} $Result <> 0
    Call UndoFailedInstall
    Abort
  ${EndIf}
  Call DiscardEarlierCopy
  Call TakeInventory
  ; The folder on a line of its own: the page would break a long one after its "C:".
  StrCpy $FinishSummary "The ${KVX_PRODUCT_NAME} ${KVX_VERSION} are installed in:$\r$\n$INSTDIR"
  ${If} $SetupAction == repair
    StrCpy $FinishSummary "The ${KVX_PRODUCT_NAME} ${KVX_VERSION} are repaired in:$\r$\n$INSTDIR"
  ${ElseIf} $SetupAction == update
    StrCpy $FinishSummary "The ${KVX_PRODUCT_NAME} are updated from $InstalledVersion to ${KVX_VERSION} in:$\r$\n$INSTDIR"
  ${EndIf}
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
  StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nThe log of this setup:$\r$\n$LogFile"
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
  Call un.DeleteUninstallerAfterExit
  StrCpy $FinishSummary "The ${KVX_PRODUCT_NAME} are removed from this computer."
  Call un.SummariseRestart
  StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nThe log:$\r$\n$LogFile"
SectionEnd

; Says whether a restart is needed, and makes it the exit code: 3010 tells a deployment tool
; to restart when it sees fit. Silent mode never restarts by itself.
!macro KvxSummariseRestart UN
Function ${UN}SummariseRestart
  ${If} ${RebootFlag}
    StrCpy $FinishSummary "$FinishSummary$\r$\n$\r$\nA driver file or service was in use: restart the computer to finish."
    ${Tell} "Restart the computer to finish"
    ${ExitWith} ${KVX_EXIT_RESTART} "done, restart pending"
  ${Else}
    ${Tell} "Done; no restart is needed"
    ${ExitWith} ${KVX_EXIT_DONE} "done"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro KvxSummariseRestart ""
!insertmacro KvxSummariseRestart "un."
