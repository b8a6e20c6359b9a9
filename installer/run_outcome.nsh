; What the console host printed about the module's call, kept for the failure message and the
; LastRun record: the first thing the system refused, which names the step that failed
; (staging which INF, updating which board, removing what), the host's text for the result,
; which knows SetupAPI's codes as well, and the count of changes and refusals.

!include LogicLib.nsh

Var FailedStep
Var ResultText
; What the module changed and what the system refused in this run; "" when unknown.
Var Changes
Var Refusals

!macro KvxRunOutcomeFunctions UN

; The text $R1 after the first "$R2" in it, in $R3 ("" when $R2 is not there).
Function ${UN}TextAfter
  Push $R4
  Push $R5
  Push $R6
  StrLen $R4 $R2
  StrLen $R5 $R1
  IntOp $R5 $R5 - $R4
  StrCpy $R3 ""
  ${ForEach} $R6 0 $R5 + 1
    StrCpy $R3 $R1 $R4 $R6
    ${If} $R3 == $R2
      IntOp $R6 $R6 + $R4
      StrCpy $R3 $R1 "" $R6
      ${Break}
    ${EndIf}
    StrCpy $R3 ""
  ${Next}
  Pop $R6
  Pop $R5
  Pop $R4
FunctionEnd

; Reads the host's output of an install or removal; the counts add up over the calls of a
; run (a failed install's clean-up is a second call).
Function ${UN}ReadHostOutcome
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  ClearErrors
  FileOpen $R0 "${KVX_HOST_OUTPUT}" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $R0 $R1
      ${If} ${Errors}
        ${ExitDo}
      ${EndIf}
      Push $R1
      Call ${UN}TrimLineEnd
      Pop $R1
      StrCpy $R2 $R1 10
      ${If} $R2 == "could not "
      ${AndIf} $FailedStep == ""
        StrCpy $FailedStep $R1
      ${EndIf}
      ; The first call's: a failed install's clean-up follows it.
      StrCpy $R2 $R1 9
      ${If} $R2 == "KVXSetup_"
      ${AndIf} $ResultText == ""
        StrCpy $R2 "): "
        Call ${UN}TextAfter
        StrCpy $ResultText $R3
      ${EndIf}
      ; "2 changes, 1 refused": the line starts with its number.
      StrCpy $R2 $R1 8 -8
      IntOp $R3 $R1 + 0
      StrCpy $R3 "$R3 change"
      StrLen $R4 $R3
      StrCpy $R4 $R1 $R4
      ${If} $R2 == " refused"
      ${AndIf} $R4 == $R3
        ${If} $Changes == ""
          StrCpy $Changes 0
          StrCpy $Refusals 0
        ${EndIf}
        IntOp $Changes $Changes + $R1
        StrCpy $R2 ", "
        Call ${UN}TextAfter
        IntOp $Refusals $Refusals + $R3
      ${EndIf}
    ${Loop}
    FileClose $R0
  ${EndIf}
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro KvxRunOutcomeFunctions ""
!insertmacro KvxRunOutcomeFunctions "un."
