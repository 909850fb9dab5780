; What the setup (patinex.nsi) and the uninstaller (uninstall.nsi) share: the
; Add/Remove Programs key that holds the record of every file written (value
; names under Files) and every folder created (under Folders), and the test for
; a full path.

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Patinex"
!define PUBLISHER "the Patinex authors"

; $0: a path. $1: 1 when it is a full path (C:\... or \\server\share\...) with
; no character Windows refuses in a name, else 0. Uses $2-$4.
!macro IsFullPathFunction PREFIX
Function ${PREFIX}IsFullPath
  StrCpy $1 0
  StrCpy $2 $0 1 1
  StrCpy $3 $0 1 2
  ${If} $2 == ":"
  ${AndIf} $3 == "\"
    StrCpy $2 $0 1
    StrCpy $4 "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    ${Do}
      StrCpy $3 $4 1
      ${If} $3 == ""
        Return
      ${EndIf}
      ${If} $3 == $2      ; case-insensitive
        ${Break}
      ${EndIf}
      StrCpy $4 $4 "" 1
    ${Loop}
    StrCpy $4 3
  ${Else}
    StrCpy $2 $0 2
    StrCpy $3 $0 1 2
    ${If} $2 != "\\"
    ${OrIf} $3 == ""
    ${OrIf} $3 == "\"
      Return
    ${EndIf}
    StrCpy $4 2
  ${EndIf}
  ; The rest: no : * ? " < > | (a second colon is the typo "c:\a:b").
  ${Do}
    StrCpy $2 $0 1 $4
    ${If} $2 == ""
      ${Break}
    ${EndIf}
    ${If} $2 == ":"
    ${OrIf} $2 == "*"
    ${OrIf} $2 == "?"
    ${OrIf} $2 == '"'
    ${OrIf} $2 == "<"
    ${OrIf} $2 == ">"
    ${OrIf} $2 == "|"
      Return
    ${EndIf}
    IntOp $4 $4 + 1
  ${Loop}
  StrCpy $1 1
FunctionEnd
!macroend
