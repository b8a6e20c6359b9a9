; The product installer of the KVX board drivers: copies KVXSETUPW2K.dll, its console hosts
; and the driver packages under Program Files, has the module install the drivers, and
; writes an uninstaller that has the module remove them again.
;
; Built by scripts/build-installer, which passes every value that belongs to the build:
;   makensis /DKVX_VERSION=1.0.0.0 /DKVX_X86_DIR=... /DKVX_X64_DIR=... /DKVX_PACKAGE_LIST=...
;            /DKVX_FIRST_INF=kvxdz4x.inf /DKVX_SECOND_INF=kvxhxhw.inf /DKVX_OUTFILE=...
;            kvx_drivers_setup.nsi
;
; Silent with /S. Exit code: 0 when the drivers are installed, the module's error code when
; it failed, 1 when the user cancelled, 2 when NSIS aborted, 5 without administrator rights,
; 1150 before Windows 2000.
; The log: %TEMP%\KvxDriversSetup.log (KvxDriversUninstall.log for the uninstaller).

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

!define KVX_PRODUCT_NAME "Kavexa KVX Board Drivers"
!define KVX_PUBLISHER "Kavexa Systems Inc"
!define KVX_INSTALL_FOLDER "Kavexa KVX Board Drivers"
!define KVX_ERROR_ACCESS_DENIED 5
!define KVX_ERROR_OLD_WIN_VERSION 1150

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include WinVer.nsh
!addincludedir "${__FILEDIR__}"
!include log.nsh
!include module_calls.nsh
!include "${KVX_PACKAGE_LIST}"
!include product_files.nsh

Name "${KVX_PRODUCT_NAME}"
OutFile "${KVX_OUTFILE}"
; Device installation needs an administrator; on Windows 2000 this is checked in .onInit.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${KVX_VERSION}"
VIFileVersion "${KVX_VERSION}"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
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
  ; An installation already there is updated in its own folder.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${KVX_UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\${KVX_INSTALL_FOLDER}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${KVX_INSTALL_FOLDER}"
    ${EndIf}
  ${EndIf}
  Push "$TEMP\KvxDriversSetup.log"
  Call StartLog
  Call QuitBeforeWindows2000
  Call QuitUnlessAdministrator
FunctionEnd

Function un.onInit
  !insertmacro KvxUseMachineViews
  Push "$TEMP\KvxDriversUninstall.log"
  Call un.StartLog
  Call un.QuitUnlessAdministrator
FunctionEnd

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

; Shows a failed call's code and message (the OK button in silent mode), and makes the
; module's result the exit code.
!macro KvxReportFailure UN
Function ${UN}ReportFailure
  Exch $R0
  Push $R1
  Push $Result
  Call ${UN}SystemMessage
  Pop $R1
  ${Log} "failed: $R0; exit code $Result"
  IntFmt $R1 "Error $Result (0x%08x): $R1" $Result
  MessageBox MB_OK|MB_ICONSTOP "$R0.$\r$\n$\r$\n$R1$\r$\n$\r$\nThe log is $LogFile." /SD IDOK
  SetErrorLevel $Result
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxReportFailure ""
!insertmacro KvxReportFailure "un."

Section "Install"
  Call CopyProductFiles
  Call CallPnPInstallKVX
  ${If} $Result <> 0
    Call TakeBackProductFiles
    Call DeleteEntryOfTakenBackInstallation
    Push "The board drivers could not be installed"
    Call ReportFailure
    Abort
  ${EndIf}
  Call WriteUninstallEntry
  ${Log} "installed; exit code 0"
SectionEnd

Section "Uninstall"
  Call un.CallPnPRemoveKVX
  ; Without the module's work the drivers stay, so the files and the entry that can
  ; remove them stay too.
  ${If} $Result <> 0
    Push "The board drivers could not be removed"
    Call un.ReportFailure
    Abort
  ${EndIf}
  Call un.DeleteProductFiles
  Call un.DeleteUninstallEntry
  ${Log} "removed; exit code 0"
SectionEnd
