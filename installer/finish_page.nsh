; The finish pages' summary (what happened, a restart's reason, the log's path) is longer
; than the text area MUI leaves above the restart choice or the "Show the log" box, which
; then sit over its last lines. The text area grows by three lines of a box's height (30
; dialog units, whatever the screen's font) and the boxes move down by as much, into the
; page's free lower part.

!include LogicLib.nsh

!define KVX_SWP_NOSIZE 0x0001
!define KVX_SWP_NOMOVE 0x0002
!define KVX_SWP_NOZORDER 0x0004

; Moves the control on the stack down by $R9 pixels (0: a control the page did not make).
!macro KvxFinishPageFunctions UN
Function ${UN}MoveDownOnFinishPage
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  ${If} $R0 <> 0
    System::Call '*(i, i, i, i) p .R1'
    System::Call 'user32::GetWindowRect(p R0, p R1)'
    System::Call 'user32::MapWindowPoints(p 0, p $mui.FinishPage, p R1, i 2)'
    System::Call '*$R1(i .R2, i .R3)'
    System::Free $R1
    IntOp $R3 $R3 + $R9
    System::Call 'user32::SetWindowPos(p R0, p 0, i R2, i R3, i 0, i 0, i ${KVX_SWP_NOSIZE}|${KVX_SWP_NOZORDER})'
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

Function ${UN}ShowFinishPage
  Push $R0
  Push $R1
  Push $R2
  Push $R9
  ; The box below the text: the restart choice's first button, or the log's check box.
  StrCpy $R0 $mui.FinishPage.RebootNow
  ${If} $R0 == ""
  ${OrIf} $R0 = 0
    StrCpy $R0 $mui.FinishPage.ShowReadme
  ${EndIf}
  ${If} $R0 != ""
  ${AndIf} $R0 <> 0
    System::Call '*(i, i, i, i) p .R1'
    System::Call 'user32::GetWindowRect(p R0, p R1)'
    System::Call '*$R1(i, i .R2, i, i .R9)'
    System::Free $R1
    IntOp $R9 $R9 - $R2
    IntOp $R9 $R9 * 3
    System::Call '*(i, i, i, i) p .R1'
    System::Call 'user32::GetWindowRect(p $mui.FinishPage.Text, p R1)'
    System::Call '*$R1(i .R0, i .R2, i .R3, i .R4)'
    System::Free $R1
    IntOp $R3 $R3 - $R0
    IntOp $R4 $R4 - $R2
    IntOp $R4 $R4 + $R9
    System::Call 'user32::SetWindowPos(p $mui.FinishPage.Text, p 0, i 0, i 0, i R3, i R4, i ${KVX_SWP_NOMOVE}|${KVX_SWP_NOZORDER})'
    Push $mui.FinishPage.RebootNow
    Call ${UN}MoveDownOnFinishPage
    Push $mui.FinishPage.RebootLater
    Call ${UN}MoveDownOnFinishPage
    Push $mui.FinishPage.ShowReadme
    Call ${UN}MoveDownOnFinishPage
  ${EndIf}
  Pop $R9
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
