; Patinex setup: puts PATINEX64.8bf into every 64-bit host's plug-in folder and
; PATINEX.8bf into every 32-bit host's, filterhost and filterhost64 with the
; README and the licence into Patinex's own folder, and registers in Add/Remove
; Programs. Built by installer/build-installer (make installer):
;   makensis -DVERSION=1.0.0 -DWIN32DIR=... -DWIN64DIR=... -DROOT=... -DOUTFILE=... patinex.nsi
;
; Command line: /S installs silently into every host found (the rows checked by
; default) and the own folder; /D=DIR sets the own folder (last, no quotes).
; uninstall.exe /S removes silently.
; Exit codes: 0 done; 1 cancelled by the user; 2 failed (a file held open by a
; running program, a folder that cannot be written), with nothing changed.
;
; Every file written is recorded as a value name under the Add/Remove Programs
; key (subkey Files), every folder created under Folders; the uninstaller removes
; exactly those, so other plug-ins in a host's folder stay. The key's name is
; fixed: installing again, or a newer version, replaces the files in place and
; keeps one entry.

Unicode true
!macro Required NAME
  !ifndef ${NAME}
    !error "define ${NAME} (installer/build-installer passes VERSION, WIN32DIR, WIN64DIR, ROOT, OUTFILE)"
  !endif
!macroend
!insertmacro Required VERSION
!insertmacro Required WIN32DIR
!insertmacro Required WIN64DIR
!insertmacro Required ROOT
!insertmacro Required OUTFILE

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Patinex"
!define PUBLISHER "the Patinex authors"

Name "Patinex ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Patinex"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written offers Retry and Cancel, never Ignore.
AllowSkipFiles off
BrandingText "Patinex ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Patinex"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Patinex ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}"

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!include "hosts.nsh"

Var Dialog
Var OtherCheck
Var OtherText
Var OtherBits
Var Target
Var Module
Var Handle
Var Index
Var Value
Var Removed
Var FinishText

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_TITLE "Patinex is installed"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!insertmacro MUI_PAGE_LICENSE "${ROOT}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
Page custom HostsPage HostsPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE FinishPre
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  InitPluginsDir
  StrCpy $HostsIni "$PLUGINSDIR\hosts.ini"
  StrCpy $HostCount 0
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; An earlier install's own folder is kept (upgrade in place) unless /D= names another.
  ${If} $INSTDIR == "$PROGRAMFILES64\Patinex"
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    ${If} $0 != ""
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
FunctionEnd

; --- The host page --------------------------------------------------------
; One row per host found: a check box with the host and its processor, and the
; folder the module goes to. Below: "Another folder..." with its processor.
Function HostsPage
  !insertmacro MUI_HEADER_TEXT "Hosts" "Choose the programs to install Patinex into."
  Call BuildHostList
  nsDialogs::Create 1018
  Pop $Dialog
  ${If} $Dialog == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 18u "Each host gets the module for its processor: PATINEX64.8bf for 64-bit hosts, PATINEX.8bf for 32-bit ones. Close the hosts before installing."
  Pop $0
  ; Rows share the space between the text and the last row.
  IntOp $1 98 / $HostCount
  ${If} $1 > 12
    StrCpy $1 12
  ${EndIf}
  StrCpy $Index 0
  ${DoWhile} $Index < $HostCount
    IntOp $2 $Index * $1
    IntOp $2 $2 + 22
    ReadINIStr $3 $HostsIni "h$Index" "name"
    ReadINIStr $4 $HostsIni "h$Index" "bits"
    ${NSD_CreateCheckbox} 0 $2u 40% 10u "$3"
    Pop $5
    WriteINIStr $HostsIni "h$Index" "hwnd" $5
    ReadINIStr $3 $HostsIni "h$Index" "checked"
    ${If} $3 == 1
      ${NSD_Check} $5
    ${EndIf}
    ReadINIStr $3 $HostsIni "h$Index" "folder"
    ReadINIStr $4 $HostsIni "h$Index" "note"
    ${If} $4 != ""
      StrCpy $3 "$3  ($4)"
    ${EndIf}
    nsDialogs::CreateControl STATIC ${WS_VISIBLE}|${WS_CHILD}|${SS_PATHELLIPSIS} 0 52% $2u 48% 10u "$3"
    Pop $5
    ReadINIStr $4 $HostsIni "h$Index" "bits"
    ${NSD_CreateLabel} 41% $2u 10% 10u "$4-bit"
    Pop $5
    IntOp $Index $Index + 1
  ${Loop}
  ${NSD_CreateCheckbox} 0 124u 25% 12u "Another folder:"
  Pop $OtherCheck
  ${NSD_CreateText} 26% 124u 40% 12u ""
  Pop $OtherText
  ${NSD_CreateBrowseButton} 67% 124u 12% 12u "Browse..."
  Pop $0
  ${NSD_OnClick} $0 BrowseOther
  ${NSD_CreateDropList} 80% 124u 20% 12u ""
  Pop $OtherBits
  ${NSD_CB_AddString} $OtherBits "64-bit host"
  ${NSD_CB_AddString} $OtherBits "32-bit host"
  ${NSD_CB_SelectString} $OtherBits "64-bit host"
  nsDialogs::Show
FunctionEnd

Function BrowseOther
  ${NSD_GetText} $OtherText $0
  nsDialogs::SelectFolderDialog "A folder your host reads plug-ins from" $0
  Pop $0
  ${If} $0 != error
    ${NSD_SetText} $OtherText $0
    ${NSD_Check} $OtherCheck
  ${EndIf}
FunctionEnd

Function HostsPageLeave
  StrCpy $Index 0
  ${DoWhile} $Index < $HostCount
    ReadINIStr $0 $HostsIni "h$Index" "hwnd"
    ${NSD_GetState} $0 $1
    ${If} $1 == ${BST_CHECKED}
      WriteINIStr $HostsIni "h$Index" "checked" 1
    ${Else}
      WriteINIStr $HostsIni "h$Index" "checked" 0
    ${EndIf}
    IntOp $Index $Index + 1
  ${Loop}
  ${NSD_GetState} $OtherCheck $1
  ${If} $1 == ${BST_CHECKED}
    ${NSD_GetText} $OtherText $0
    ${If} $0 == ""
      MessageBox MB_OK|MB_ICONEXCLAMATION "Choose the other folder, or clear its check box."
      Abort
    ${EndIf}
    ${NSD_GetText} $OtherBits $2
    StrCpy $2 $2 2
    !insertmacro AddHost "Another folder" $0 $2 1 ""
  ${EndIf}
FunctionEnd

; --- Checks before anything is written ------------------------------------
; Each target that exists must open for writing: a host that has the module
; loaded holds it open. Retry checks again; Cancel (and a silent install) stops
; with nothing written.
!macro CheckWritable PATH
  StrCpy $Target "${PATH}"
  Call CheckWritable
!macroend

Function CheckWritable
  ${IfNot} ${FileExists} $Target
    Return
  ${EndIf}
retry:
  ClearErrors
  FileOpen $Handle $Target a
  ${IfNot} ${Errors}
    FileClose $Handle
    Return
  ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$Target is in use: a program (probably an image editor) has it open.$\r$\n$\r$\nClose that program, then choose Retry. Cancel stops the setup; nothing has been changed." /SD IDCANCEL IDRETRY retry
  DetailPrint "In use: $Target"
  SetErrorLevel 2
  Abort "Nothing was installed: $Target is in use."
FunctionEnd

; --- Writing, with a record of everything written -------------------------
; CreateFolder: $Target and any missing folder above it, each recorded (the
; deepest first) so the uninstaller removes only folders it made.
Function CreateFolder
  StrCpy $0 $Target
  ${Do}
    ${If} ${FileExists} "$0\*.*"
      ${Break}
    ${EndIf}
    WriteRegStr HKLM "${UNINST_KEY}\Folders" $0 ""
    ${GetParent} $0 $0
  ${LoopUntil} $0 == ""
  ClearErrors
  CreateDirectory $Target
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Cannot create $Target."
  ${EndIf}
FunctionEnd

!macro Record PATH
  WriteRegStr HKLM "${UNINST_KEY}\Files" "${PATH}" ""
!macroend

; The two modules, each embedded once; $Target is the folder.
Function Put64
  File "/oname=$Target\PATINEX64.8bf" "${WIN64DIR}\PATINEX64.8bf"
  !insertmacro Record "$Target\PATINEX64.8bf"
FunctionEnd

Function Put32
  File "/oname=$Target\PATINEX.8bf" "${WIN32DIR}\PATINEX.8bf"
  !insertmacro Record "$Target\PATINEX.8bf"
FunctionEnd

Section "Patinex"
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ${If} ${Silent}
    Call BuildHostList
  ${EndIf}

  ; Nothing is written until every file to replace can be written.
  !insertmacro CheckWritable "$INSTDIR\filterhost.exe"
  !insertmacro CheckWritable "$INSTDIR\filterhost64.exe"
  !insertmacro CheckWritable "$INSTDIR\README.txt"
  !insertmacro CheckWritable "$INSTDIR\LICENSE.txt"
  !insertmacro CheckWritable "$INSTDIR\uninstall.exe"
  StrCpy $Index 0
  ${DoWhile} $Index < $HostCount
    ReadINIStr $0 $HostsIni "h$Index" "checked"
    ${If} $0 == 1
      ReadINIStr $1 $HostsIni "h$Index" "folder"
      ReadINIStr $2 $HostsIni "h$Index" "bits"
      ${If} $2 == 64
        !insertmacro CheckWritable "$1\PATINEX64.8bf"
      ${Else}
        !insertmacro CheckWritable "$1\PATINEX.8bf"
      ${EndIf}
    ${EndIf}
    IntOp $Index $Index + 1
  ${Loop}

  StrCpy $Target $INSTDIR
  Call CreateFolder
  SetOutPath $INSTDIR
  File "/oname=filterhost.exe" "${WIN32DIR}\filterhost.exe"
  !insertmacro Record "$INSTDIR\filterhost.exe"
  File "/oname=filterhost64.exe" "${WIN64DIR}\filterhost64.exe"
  !insertmacro Record "$INSTDIR\filterhost64.exe"
  File "/oname=README.txt" "${ROOT}\README.md"
  !insertmacro Record "$INSTDIR\README.txt"
  File "/oname=LICENSE.txt" "${ROOT}\LICENSE"
  !insertmacro Record "$INSTDIR\LICENSE.txt"

  StrCpy $Index 0
  ${DoWhile} $Index < $HostCount
    ReadINIStr $0 $HostsIni "h$Index" "checked"
    ${If} $0 == 1
      ReadINIStr $Target $HostsIni "h$Index" "folder"
      ReadINIStr $Module $HostsIni "h$Index" "bits"
      Call CreateFolder
      ${If} $Module == 64
        Call Put64
      ${Else}
        Call Put32
      ${EndIf}
    ${EndIf}
    IntOp $Index $Index + 1
  ${Loop}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Patinex"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  Call RecordSize
SectionEnd

; Sum of the recorded files' sizes and the uninstaller's, as EstimatedSize (KiB).
Function RecordSize
  StrCpy $Value 0
  StrCpy $Index 0
  ${Do}
    EnumRegValue $0 HKLM "${UNINST_KEY}\Files" $Index
    ${If} $0 == ""
      ${Break}
    ${EndIf}
    IntOp $Index $Index + 1
    ClearErrors
    FileOpen $Handle $0 r
    ${IfNot} ${Errors}
      FileSeek $Handle 0 END $1
      FileClose $Handle
      IntOp $Value $Value + $1
    ${EndIf}
  ${Loop}
  FileOpen $Handle "$INSTDIR\uninstall.exe" r
  FileSeek $Handle 0 END $1
  FileClose $Handle
  IntOp $Value $Value + $1
  IntOp $Value $Value + 1023
  IntOp $Value $Value / 1024
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $Value
FunctionEnd

Function FinishPre
  StrCpy $FinishText "Restart your image editors: Patinex is in the Filter menu under Lumivex.$\r$\n$\r$\nFor a host the setup does not know, point it at$\r$\n  $INSTDIR\Plug-ins (64-bit hosts) or$\r$\n  $INSTDIR\Plug-ins (32-bit) (32-bit hosts).$\r$\n$FinishHosts"
FunctionEnd

; --- Uninstaller -----------------------------------------------------------
Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $Removed 0
  ; Every recorded file; a file in use offers Retry and Cancel, and stays
  ; recorded (with the key) when cancelled.
  ${Do}
    EnumRegValue $Value HKLM "${UNINST_KEY}\Files" 0
    ${If} $Value == ""
      ${Break}
    ${EndIf}
  retry:
    ClearErrors
    Delete $Value
    ${If} ${FileExists} $Value
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$Value is in use: a program (probably an image editor) has it open.$\r$\n$\r$\nClose that program, then choose Retry." /SD IDCANCEL IDRETRY retry
      SetErrorLevel 2
      Abort "Patinex is not removed completely: $Value is in use."
    ${EndIf}
    DetailPrint "Removed $Value"
    ClearErrors
    DeleteRegValue HKLM "${UNINST_KEY}\Files" $Value
    ${If} ${Errors}   ; else the same value would come back forever
      SetErrorLevel 2
      Abort "Cannot change the record of installed files (no administrator rights?)."
    ${EndIf}
  ${Loop}
  Delete "$INSTDIR\uninstall.exe"
  ; Folders the setup made, if empty now; repeated until none goes, so the
  ; order of the record does not matter.
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
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
