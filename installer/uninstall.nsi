; Patinex's uninstaller, uninstall.exe in Patinex's own folder (the setup,
; patinex.nsi, carries it). Built by installer/build-installer before the setup:
;   makensis -DVERSION=1.1.0 -DOUTFILE=... uninstall.nsi
;
; It removes exactly the files and folders the record under the Add/Remove
; Programs key names, and returns when that is done, with its exit code:
; 0 removed; 1 cancelled; 2 a file could not be removed (held open by a running
; program): everything else is removed, the file is named, and the key with
; the uninstaller stays so that it can run again.
;
; It runs from a copy in the temporary folder, started by uninstall.exe
; (uninstall-launcher.c), which waits for it and passes on its exit code; this
; program itself is uninstall.dat in Patinex's folder. The copy moves the
; waiting uninstall.exe out of Patinex's folder (a running program's file can
; be renamed, not deleted) beside itself, to be deleted at the next restart;
; uninstall.exe deletes the copy once it has ended.
;   <temp>\uninstall.exe [/S] /FROM="DIR"    for Patinex's folder DIR

Unicode true
!ifndef VERSION | OUTFILE
  !error "define VERSION and OUTFILE (installer/build-installer passes them)"
!endif

Name "Patinex"
Caption "Patinex ${VERSION} Uninstall"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
BrandingText "Patinex ${VERSION}"
ShowInstDetails show
InstallButtonText "&Uninstall"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Patinex"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Patinex ${VERSION} uninstaller"
VIAddVersionKey "CompanyName" "the Patinex authors"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 the Patinex authors"

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include WinMessages.nsh
!include "record.nsh"

Var Value
Var Index
Var Removed
Var Held
Var Places

!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Finished"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "Patinex is removed, unless the list says otherwise."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Not removed"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "Patinex is still installed."
Page custom PlacesPage
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/FROM=" $INSTDIR
  ${IfNot} ${Errors}
    Return
  ${EndIf}
  MessageBox MB_OK|MB_ICONSTOP "Run uninstall.exe in Patinex's folder to remove Patinex." /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd

; Every folder the record names a file in, once each.
Function FindPlaces
  StrCpy $Places ""
  StrCpy $Index 0
  ${Do}
    EnumRegValue $Value HKLM "${UNINST_KEY}\Files" $Index
    ${If} $Value == ""
      ${Break}
    ${EndIf}
    IntOp $Index $Index + 1
    ${GetParent} $Value $0
    ${WordFind} "$Places" "$\r$\n$0$\r$\n" "E+1{" $1
    ${If} ${Errors}
      StrCpy $Places "$Places$\r$\n$0$\r$\n"
    ${EndIf}
  ${Loop}
FunctionEnd

Function PlacesPage
  !insertmacro MUI_HEADER_TEXT "Uninstall Patinex" "Remove Patinex from this computer."
  Call FindPlaces
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 20u "The uninstaller removes the files the setup wrote, from these folders, and the folders it made; other plug-ins and your own files stay. Close your image editors first."
  Pop $0
  ; The list, one folder a line, scrolls when it is long.
  ${WordReplace} "$Places" "$\r$\n$\r$\n" "$\r$\n" "+" $1
  StrCpy $1 $1 "" 2
  nsDialogs::CreateControl EDIT ${WS_VISIBLE}|${WS_CHILD}|${WS_VSCROLL}|${WS_HSCROLL}|${ES_MULTILINE}|${ES_READONLY}|${ES_AUTOHSCROLL} ${WS_EX_CLIENTEDGE} 0 24u 100% 110u "$1"
  Pop $0
  nsDialogs::Show
FunctionEnd

Section "Remove"
  ; Every recorded file, one line each; a file in use stays recorded.
retry:
  StrCpy $Held ""
  StrCpy $Index 0
  ${Do}
    EnumRegValue $Value HKLM "${UNINST_KEY}\Files" $Index
    ${If} $Value == ""
      ${Break}
    ${EndIf}
    ${If} $Value == "$INSTDIR\uninstall.exe"
    ${OrIf} $Value == "$INSTDIR\uninstall.dat"
      IntOp $Index $Index + 1   ; last, below
      ${Continue}
    ${EndIf}
    SetDetailsPrint none
    Delete $Value
    SetDetailsPrint both
    ${If} ${FileExists} $Value
      DetailPrint "In use, not removed: $Value"
      StrCpy $Held "$Held$\r$\n$Value"
      IntOp $Index $Index + 1
      ${Continue}
    ${EndIf}
    DetailPrint "Removed $Value"
    ClearErrors
    DeleteRegValue HKLM "${UNINST_KEY}\Files" $Value
    ${If} ${Errors}   ; else the same value would come back forever
      SetErrorLevel 2
      Abort "Cannot change the record of installed files (no administrator rights?)."
    ${EndIf}
  ${Loop}
  ${If} $Held != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "These files are in use: a program (probably an image editor) has them open.$\r$\n$Held$\r$\n$\r$\nClose that program, then choose Retry. Cancel leaves them, and Patinex in the Apps list to uninstall again." /SD IDCANCEL IDRETRY retry
  ${EndIf}

  ${If} $Held == ""
    ; This program's file, then the uninstall.exe that waits for this copy:
    ; moved here and deleted at the next restart (where the temporary folder
    ; is on another drive, it stays in place until then).
    SetDetailsPrint none
    Delete "$INSTDIR\uninstall.dat"
    StrCpy $0 "$INSTDIR\uninstall.exe"
    Delete $0
    ${If} ${FileExists} $0
      ClearErrors
      Rename $0 "$EXEDIR\uninstall-started.exe"
      ${If} ${Errors}
        Delete /REBOOTOK $0
      ${Else}
        Delete /REBOOTOK "$EXEDIR\uninstall-started.exe"
      ${EndIf}
    ${EndIf}
    SetDetailsPrint both
    DetailPrint "Removed $INSTDIR\uninstall.dat"
    DetailPrint "Removed $0"
    DeleteRegValue HKLM "${UNINST_KEY}\Files" "$INSTDIR\uninstall.dat"
    DeleteRegValue HKLM "${UNINST_KEY}\Files" $0
  ${EndIf}

  ; Folders the setup made, if empty now; repeated until none goes, so the
  ; order of the record does not matter.
  SetDetailsPrint none
  ${Do}
    StrCpy $Removed 0
    StrCpy $Index 0
    ${Do}
      EnumRegValue $Value HKLM "${UNINST_KEY}\Folders" $Index
      ${If} $Value == ""
        ${Break}
      ${EndIf}
      RMDir $Value
      ${IfNot} ${FileExists} "$Value\*.*"
        ClearErrors
        DeleteRegValue HKLM "${UNINST_KEY}\Folders" $Value
        ${If} ${Errors}
          SetErrorLevel 2
          Abort "Cannot change the record of installed folders (no administrator rights?)."
        ${EndIf}
        StrCpy $Removed 1
      ${Else}
        IntOp $Index $Index + 1
      ${EndIf}
    ${Loop}
  ${LoopUntil} $Removed == 0
  SetDetailsPrint both

  ; This copy and its folder, at the next restart.
  Delete /REBOOTOK $EXEPATH
  RMDir /REBOOTOK $EXEDIR
  ${If} $Held != ""
    DetailPrint "Patinex is not removed completely: these files are in use:$Held"
    SetErrorLevel 2
    Abort "Close the programs that hold them, then uninstall Patinex again."
  ${EndIf}
  DeleteRegKey HKLM "${UNINST_KEY}"
  DetailPrint "Patinex is removed."
SectionEnd
