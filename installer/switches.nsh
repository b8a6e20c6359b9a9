; The switches the setup program and its uninstaller take. A deployment tool runs them under
; an account nobody watches: a switch that is not understood must not open the wizard and
; wait for a click, so it is refused with the usage, and with no window at all when a silent
; switch is on the line too. NSIS itself has taken /D= and _?= off the command line already.

!include LogicLib.nsh
!include FileFunc.nsh

; The switch that ends the run, found by ReadSwitches: "" for none, "help" for /? or /help.
Var SwitchProblem

!macro KvxSwitchFunctions UN

; The usage, for a message box or the log.
Function ${UN}UsageText
  Push $R0
  !ifdef __UNINSTALL__
    StrCpy $R0 "uninstall.exe [/S | /s | /quiet | /qn] [/norestart]"
  !else
    StrCpy $R0 "KvxDriversSetup.exe [/S | /s | /quiet | /qn] [/norestart] [/D=folder]"
  !endif
  StrCpy $R0 "$R0$\r$\n$\r$\n/S, /s, /quiet, /qn: no window, no question; never restarts the computer.$\r$\n/norestart: never restart the computer.$\r$\n"
  !ifndef __UNINSTALL__
    StrCpy $R0 "$R0/D=folder: install there (last on the line, without quotes).$\r$\n"
  !endif
  StrCpy $R0 "$R0/? or /help: this text.$\r$\n$\r$\nExit codes: 0 done; 3010 done, restart pending; 1602 cancelled; 1603 failed (the log says why); 1618 another run in progress; 1638 another installation of the product; 87 unknown switch or unusable folder; 1150 Windows older than 2000."
  Exch $R0
FunctionEnd

; Splits the parameters into switches, one per call: $R1 the rest of the line in, the next
; switch out in $R2 ("" at the end) and the rest after it in $R1. A quoted switch keeps its
; spaces.
Function ${UN}NextSwitch
  Push $R3
  StrCpy $R2 ""
  ${Do}
    StrCpy $R3 $R1 1
    ${If} $R3 != " "
    ${AndIf} $R3 != "$\t"
      ${ExitDo}
    ${EndIf}
    StrCpy $R1 $R1 "" 1
  ${Loop}
  StrCpy $R3 $R1 1
  ${If} $R3 == '"'
    StrCpy $R1 $R1 "" 1
    ${Do}
      StrCpy $R3 $R1 1
      StrCpy $R1 $R1 "" 1
      ${If} $R3 == ""
      ${OrIf} $R3 == '"'
        ${ExitDo}
      ${EndIf}
      StrCpy $R2 "$R2$R3"
    ${Loop}
  ${Else}
    ${Do}
      StrCpy $R3 $R1 1
      ${If} $R3 == ""
      ${OrIf} $R3 == " "
      ${OrIf} $R3 == "$\t"
        ${ExitDo}
      ${EndIf}
      StrCpy $R2 "$R2$R3"
      StrCpy $R1 $R1 "" 1
    ${Loop}
  ${EndIf}
  Pop $R3
FunctionEnd

; Reads the switches before the log starts, so that its header says silent or not: the
; silent aliases make the run silent (NSIS knows only /S); /? and /help and any unknown
; switch are kept for RefuseSwitches. NSIS's string comparison ignores case, which is what
; administrators expect of switches.
Function ${UN}ReadSwitches
  Push $R1
  Push $R2
  ${GetParameters} $R1
  StrCpy $SwitchProblem ""
  ${Do}
    Call ${UN}NextSwitch
    ${If} $R2 == ""
      ${ExitDo}
    ${ElseIf} $R2 == "/S"
    ${OrIf} $R2 == "/quiet"
    ${OrIf} $R2 == "/qn"
      SetSilent silent
    ${ElseIf} $R2 == "/norestart"
    ${OrIf} $R2 == "/NCRC"
    ${ElseIf} $R2 == "/?"
    ${OrIf} $R2 == "/help"
      ${If} $SwitchProblem == ""
        StrCpy $SwitchProblem "help"
      ${EndIf}
    ${Else}
      StrCpy $SwitchProblem $R2
    ${EndIf}
  ${Loop}
  Pop $R2
  Pop $R1
FunctionEnd

; /? and /help show the usage and end with 0; an unknown switch ends with 87 and the usage.
Function ${UN}RefuseSwitches
  ${If} $SwitchProblem != ""
    Push $R1
    Call ${UN}UsageText
    Pop $R1
    ${If} $SwitchProblem == "help"
      ; Not a run: the LastRun record keeps the last real one.
      MessageBox MB_OK|MB_ICONINFORMATION "$R1" /SD IDOK
      ${Log} "usage shown; exit code 0"
      SetErrorLevel ${KVX_EXIT_DONE}
    ${Else}
      MessageBox MB_OK|MB_ICONSTOP "Unknown switch: $SwitchProblem$\r$\n$\r$\n$R1" /SD IDOK
      ${ExitWith} ${KVX_EXIT_BAD_ARGUMENT} "refused: unknown switch $SwitchProblem"
    ${EndIf}
    Quit
  ${EndIf}
FunctionEnd

!macroend
!insertmacro KvxSwitchFunctions ""
!insertmacro KvxSwitchFunctions "un."
