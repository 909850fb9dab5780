; Patinex setup: puts PATINEX64.8bf into every 64-bit host's plug-in folder and
; PATINEX.8bf into every 32-bit host's, filterhost and filterhost64 with a text
; for the user and the licence into Patinex's own folder, and registers in
; Add/Remove Programs. Built by installer/build-installer (make installer):
;   makensis -DVERSION=1.1.0 -DWIN32DIR=... -DWIN64DIR=... -DROOT=... -DREADME=...
;            -DUNINSTALLER=... -DLAUNCHER=... -DOUTFILE=... patinex.nsi
;
; Command line: /S installs silently into every host found (the rows checked by
; default) and the own folder; /D=DIR sets the own folder (last, no quotes).
; uninstall.exe /S removes silently and returns when it is done.
; Exit codes: 0 done; 1 cancelled by the user; 2 failed (a file held open by a
; running program, a folder that cannot be written, a file that is not
; Patinex's where Patinex would write), with nothing changed.
;
; Never a file it did not make: every file is recorded as a value name under the
; Add/Remove Programs key (subkey Files) before it is written, every folder
; under Folders before it is created; a file already at a target is replaced
; only when the record names it (or it is a Patinex module a user copied there
; by hand: its version block says so). The uninstaller removes exactly what the
; record names. All or nothing: every folder is checked (a full path, creatable,
; writable) before the first write; each step of the run is written to a journal
; first, and a failure undoes the journal backwards: new files and folders are
; removed, replaced files (kept aside until the run succeeds) come back, the
; record and the key are as they were.

Unicode true
!macro Required NAME
  !ifndef ${NAME}
    !error "define ${NAME} (installer/build-installer passes VERSION, WIN32DIR, WIN64DIR, ROOT, README, UNINSTALLER, LAUNCHER, OUTFILE)"
  !endif
!macroend
!insertmacro Required VERSION
!insertmacro Required WIN32DIR
!insertmacro Required WIN64DIR
!insertmacro Required ROOT
!insertmacro Required README
!insertmacro Required UNINSTALLER
!insertmacro Required LAUNCHER
!insertmacro Required OUTFILE

Name "Patinex ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Patinex"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written sets the error flag (no dialog): the run then
; undoes itself.
SetOverwrite try
AllowSkipFiles off
BrandingText "Patinex ${VERSION}"
ShowInstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Patinex"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Patinex ${VERSION} setup"
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
!include "hosts.nsh"
!insertmacro IsFullPathFunction ""

!define README_NAME "Patinex README.txt"
!define LICENCE_NAME "Patinex LICENSE.txt"

Var Dialog
Var OtherCheck
Var OtherText
Var OtherBits
Var HostList
Var Target
Var Folder
Var Kind
Var Handle
Var Index
Var Value
Var FinishText
Var Journal        ; $PLUGINSDIR\journal.ini: [eN] kind, path, extra; [plan] the files to write
Var JournalCount
Var PlanCount
Var KeyExisted
Var FailText
Var OldLocation

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
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  InitPluginsDir
  StrCpy $HostsIni "$PLUGINSDIR\hosts.ini"
  StrCpy $Journal "$PLUGINSDIR\journal.ini"
  StrCpy $HostCount 0
  StrCpy $JournalCount 0
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; /D= must name a full path: NSIS would quietly put a relative one back to the
  ; default folder. $CMDLINE stops before /D=, so the process's own line is read.
  System::Call 'kernel32::GetCommandLineW() w .r2'
  ${WordFind} $2 " /D=" "E+1}" $0
  ${IfNot} ${Errors}
    Call IsFullPath
    ${If} $1 != 1
      MessageBox MB_OK|MB_ICONSTOP "$\"$0$\" is not a full folder path (such as C:\Program Files\Patinex). Nothing was installed." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
  ; An earlier install's own folder is kept (upgrade in place) unless /D= names another.
  ReadRegStr $OldLocation HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $INSTDIR == "$PROGRAMFILES64\Patinex"
  ${AndIf} $OldLocation != ""
    StrCpy $INSTDIR $OldLocation
  ${EndIf}
FunctionEnd

Function .onVerifyInstDir
  StrCpy $0 $INSTDIR
  Call IsFullPath
  ${If} $1 != 1
    Abort
  ${EndIf}
FunctionEnd

; --- The host page --------------------------------------------------------
; A list with a check box per host found: the host, its processor, the folder
; the module goes to and what the row is for, each column as wide as its
; longest text (the list scrolls sideways and down). Below: "Another folder..."
; with its processor.

Function HostsPage
  !insertmacro MUI_HEADER_TEXT "Hosts" "Choose the programs to install Patinex into."
  Call BuildHostList
  nsDialogs::Create 1018
  Pop $Dialog
  ${If} $Dialog == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 26u "Each host gets the module for its processor: PATINEX64.8bf for 64-bit hosts, PATINEX.8bf for 32-bit ones. The Patinex folders are for hosts you point at a plug-in folder yourself. Close the hosts before installing."
  Pop $0
  nsDialogs::CreateControl SysListView32 ${WS_VISIBLE}|${WS_CHILD}|${WS_TABSTOP}|${LVS_REPORT}|${LVS_SINGLESEL}|${LVS_SHOWSELALWAYS}|${LVS_NOSORTHEADER} ${WS_EX_CLIENTEDGE} 0 28u 100% 92u ""
  Pop $HostList
  IntOp $0 ${LVS_EX_CHECKBOXES} | ${LVS_EX_FULLROWSELECT}
  IntOp $0 $0 | ${LVS_EX_LABELTIP}
  SendMessage $HostList ${LVM_SETEXTENDEDLISTVIEWSTYLE} 0 $0
  StrCpy $0 0
  StrCpy $2 "Host"
  Call AddHostColumn
  StrCpy $0 1
  StrCpy $2 "Bits"
  Call AddHostColumn
  StrCpy $0 2
  StrCpy $2 "Folder"
  Call AddHostColumn
  StrCpy $0 3
  StrCpy $2 "Note"
  Call AddHostColumn
  StrCpy $Index 0
  ${DoWhile} $Index < $HostCount
    ReadINIStr $1 $HostsIni "h$Index" "name"
    System::Call '*(i 1, i $Index, i 0, i 0, i 0, w r1, i 0, i 0, p 0) p .r5'
    SendMessage $HostList ${LVM_INSERTITEMW} 0 $5
    System::Free $5
    ReadINIStr $1 $HostsIni "h$Index" "bits"
    StrCpy $1 "$1-bit"
    StrCpy $0 1
    Call SetHostCell
    ReadINIStr $1 $HostsIni "h$Index" "folder"
    StrCpy $0 2
    Call SetHostCell
    ReadINIStr $1 $HostsIni "h$Index" "note"
    StrCpy $0 3
    Call SetHostCell
    ReadINIStr $1 $HostsIni "h$Index" "checked"
    ${If} $1 == 1
      System::Call '*(i 0, i 0, i 0, i 0x2000, i 0xF000, p 0, i 0, i 0, p 0) p .r5'
      SendMessage $HostList ${LVM_SETITEMSTATE} $Index $5
      System::Free $5
    ${EndIf}
    IntOp $Index $Index + 1
  ${Loop}
  ; Each column as wide as its longest text (LVSCW_AUTOSIZE), the last one at
  ; least to the list's edge.
  ${For} $0 0 2
    SendMessage $HostList ${LVM_SETCOLUMNWIDTH} $0 -1
  ${Next}
  SendMessage $HostList ${LVM_SETCOLUMNWIDTH} 3 -2
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

; Column $0 headed $2.
Function AddHostColumn
  System::Call '*(i 6, i 0, i 80, w r2, i 0, i r0) p .r3'
  SendMessage $HostList ${LVM_INSERTCOLUMNW} $0 $3
  System::Free $3
FunctionEnd

; Row $Index, column $0: $1.
Function SetHostCell
  System::Call '*(i 1, i $Index, i r0, i 0, i 0, w r1, i 0, i 0, p 0) p .r5'
  SendMessage $HostList ${LVM_SETITEMTEXTW} $Index $5
  System::Free $5
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
    SendMessage $HostList ${LVM_GETITEMSTATE} $Index 0xF000 $1
    IntOp $1 $1 >> 12
    ${If} $1 == 2
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
    Call IsFullPath
    ${If} $1 != 1
      MessageBox MB_OK|MB_ICONEXCLAMATION "$\"$0$\" is not a full folder path. Type one that starts with a drive, such as C:\Program Files\MyEditor\Plug-ins, or choose it with Browse."
      Abort
    ${EndIf}
    ${NSD_GetText} $OtherBits $2
    StrCpy $2 $2 2
    !insertmacro AddHost "Another folder" $0 $2 1 ""
  ${EndIf}
FunctionEnd

; --- The plan: every file this run writes ----------------------------------
; [pN] folder, name, kind (fh32, fh64, readme, licence, worker: the uninstaller,
; uninst: uninstall.exe that runs it, m64, m32).
!macro Plan FOLDER NAME KIND
  WriteINIStr $Journal "p$PlanCount" "folder" "${FOLDER}"
  WriteINIStr $Journal "p$PlanCount" "name" "${NAME}"
  WriteINIStr $Journal "p$PlanCount" "kind" "${KIND}"
  IntOp $PlanCount $PlanCount + 1
!macroend

Function MakePlan
  StrCpy $PlanCount 0
  !insertmacro Plan $INSTDIR "filterhost.exe" fh32
  !insertmacro Plan $INSTDIR "filterhost64.exe" fh64
  !insertmacro Plan $INSTDIR "${README_NAME}" readme
  !insertmacro Plan $INSTDIR "${LICENCE_NAME}" licence
  !insertmacro Plan $INSTDIR "uninstall.dat" worker
  !insertmacro Plan $INSTDIR "uninstall.exe" uninst
  StrCpy $Index 0
  ${DoWhile} $Index < $HostCount
    ReadINIStr $0 $HostsIni "h$Index" "checked"
    ${If} $0 == 1
      ReadINIStr $1 $HostsIni "h$Index" "folder"
      ReadINIStr $2 $HostsIni "h$Index" "bits"
      ${If} $2 == 64
        !insertmacro Plan $1 "PATINEX64.8bf" m64
      ${Else}
        !insertmacro Plan $1 "PATINEX.8bf" m32
      ${EndIf}
    ${EndIf}
    IntOp $Index $Index + 1
  ${Loop}
FunctionEnd

; --- Failure and the journal ------------------------------------------------
; Fail: says what failed, undoes the run, exit code 2.
Function Fail
  SetDetailsPrint both
  DetailPrint "$FailText"
  Call Rollback
  ${IfNot} ${Silent}
    MessageBox MB_OK|MB_ICONSTOP "$FailText$\r$\n$\r$\nNothing has been changed: what this setup had written is removed again."
  ${EndIf}
  SetErrorLevel 2
  Abort "Nothing was installed: $FailText"
FunctionEnd

!macro Journal KIND PATH EXTRA
  WriteINIStr $Journal "e$JournalCount" "kind" "${KIND}"
  WriteINIStr $Journal "e$JournalCount" "path" "${PATH}"
  WriteINIStr $Journal "e$JournalCount" "extra" "${EXTRA}"
  IntOp $JournalCount $JournalCount + 1
!macroend

; Undoes the journal backwards: file (new), replaced (the file kept aside comes
; back), folder (created), record (a value added under Files or Folders); then
; the key: deleted when this run made it, else its values as they were.
Function Rollback
  ${If} $JournalCount == 0
    Return
  ${EndIf}
  !ifdef TEST_NO_ROLLBACK   ; the installer test's proof that it sees a run not undone
    Return
  !endif
  DetailPrint "Undoing this run:"
  ${Do}
    ${If} $JournalCount == 0
      ${Break}
    ${EndIf}
    IntOp $JournalCount $JournalCount - 1
    ReadINIStr $R0 $Journal "e$JournalCount" "kind"
    ReadINIStr $R1 $Journal "e$JournalCount" "path"
    ReadINIStr $R2 $Journal "e$JournalCount" "extra"
    ${If} $R0 == "file"
      Delete $R1
      ${If} ${FileExists} $R1
        DetailPrint "  Could not remove $R1"
      ${EndIf}
    ${ElseIf} $R0 == "replaced"
      ${If} ${FileExists} $R2
        Delete $R1
        Rename $R2 $R1
      ${EndIf}
      ${If} ${FileExists} $R2
        DetailPrint "  Could not put back $R1 (it is in $R2)"
      ${EndIf}
    ${ElseIf} $R0 == "folder"
      RMDir $R1
    ${ElseIf} $R0 == "record"
      DeleteRegValue HKLM "${UNINST_KEY}\$R2" $R1
    ${EndIf}
  ${Loop}
  ${If} $KeyExisted == 0
    DeleteRegKey HKLM "${UNINST_KEY}"
  ${Else}
    Call RestoreKeyValues
  ${EndIf}
  DetailPrint "Undone."
FunctionEnd

; The key's own values, saved before the run and written back by a rollback.
!macro ForKeyValues MACRO
  !insertmacro ${MACRO} DisplayName
  !insertmacro ${MACRO} DisplayVersion
  !insertmacro ${MACRO} Publisher
  !insertmacro ${MACRO} InstallLocation
  !insertmacro ${MACRO} UninstallString
  !insertmacro ${MACRO} QuietUninstallString
!macroend
!macro SaveValue NAME
  ReadRegStr $0 HKLM "${UNINST_KEY}" "${NAME}"
  WriteINIStr $Journal "key" "${NAME}" "|$0"   ; the bar keeps quotes the INI reader would strip
!macroend
!macro RestoreValue NAME
  ReadINIStr $0 $Journal "key" "${NAME}"
  StrCpy $0 $0 "" 1
  ${If} $0 == ""
    DeleteRegValue HKLM "${UNINST_KEY}" "${NAME}"
  ${Else}
    WriteRegStr HKLM "${UNINST_KEY}" "${NAME}" $0
  ${EndIf}
!macroend
Function SaveKeyValues
  !insertmacro ForKeyValues SaveValue
  ReadRegDWORD $0 HKLM "${UNINST_KEY}" "EstimatedSize"
  WriteINIStr $Journal "key" "EstimatedSize" $0
FunctionEnd
Function RestoreKeyValues
  !insertmacro ForKeyValues RestoreValue
  ReadINIStr $0 $Journal "key" "EstimatedSize"
  ${If} $0 == ""
    DeleteRegValue HKLM "${UNINST_KEY}" "EstimatedSize"
  ${Else}
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
  ${EndIf}
FunctionEnd

; A failure inside NSIS itself (a disk that fills while a file is unpacked)
; ends the section; the run is undone here.
Function .onInstFailed
  Call Rollback
FunctionEnd

; --- Checks before anything is written ------------------------------------
; $Folder: a full path, creatable, writable. Folders made for the check (the
; deepest first in [probe]) and the probe file are removed again.
Function ProbeFolder
  StrCpy $0 $Folder
  Call IsFullPath
  ${If} $1 != 1
    StrCpy $FailText "$\"$Folder$\" is not a full folder path (such as C:\Folder)."
    Call Fail
  ${EndIf}
  DeleteINISec $Journal "probe"
  StrCpy $0 $Folder
  StrCpy $2 0
  ${Do}
    ${If} ${FileExists} "$0\*.*"
      ${Break}
    ${EndIf}
    ${If} ${FileExists} $0
      StrCpy $FailText "Cannot create $Folder: $0 is a file."
      Call Fail
    ${EndIf}
    WriteINIStr $Journal "probe" $2 $0
    IntOp $2 $2 + 1
    ${GetParent} $0 $0
  ${LoopUntil} $0 == ""
  ClearErrors
  CreateDirectory $Folder
  StrCpy $3 ""
  ${If} ${Errors}
  ${OrIfNot} ${FileExists} "$Folder\*.*"
    StrCpy $3 "Cannot create the folder $Folder."
  ${Else}
    StrCpy $1 0
    ${Do}
      StrCpy $4 "$Folder\patinex-probe-$1.tmp"
      IntOp $1 $1 + 1
    ${LoopWhile} ${FileExists} $4
    ClearErrors
    FileOpen $Handle $4 w
    ${If} ${Errors}
      StrCpy $3 "Cannot write into the folder $Folder."
    ${Else}
      FileClose $Handle
      Delete $4
    ${EndIf}
  ${EndIf}
  StrCpy $1 0
  ${DoWhile} $1 < $2
    ReadINIStr $0 $Journal "probe" $1
    RMDir $0
    IntOp $1 $1 + 1
  ${Loop}
  ${If} $3 != ""
    StrCpy $FailText $3
    Call Fail
  ${EndIf}
FunctionEnd

; $0: a file's path. $1: 1 when its version block names Patinex (InternalName).
Function IsPatinexModule
  StrCpy $1 0
  System::Call 'version::GetFileVersionInfoSizeW(w r0, *i .r2) i .r3'
  ${If} $3 <= 0
    Return
  ${EndIf}
  System::Alloc $3
  Pop $4
  System::Call 'version::GetFileVersionInfoW(w r0, i 0, i r3, p r4) i .r2'
  ${If} $2 != 0
    System::Call 'version::VerQueryValueW(p r4, w "\StringFileInfo\040904B0\InternalName", *p .r5, *i .r6) i .r2'
    ${If} $2 != 0
    ${AndIf} $6 > 0
      System::Call '*$5(&w64 .r2)'
      ${If} $2 == "Patinex"
        StrCpy $1 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  System::Free $4
FunctionEnd

; $Target: nothing there; or a file the record names (or this folder's
; uninstaller, from a setup that did not record it); or a Patinex module copied
; by hand. Anything else stops the setup. A file there must open for writing:
; a host that has the module loaded holds it open (Retry / Cancel).
Function CheckTarget
  ${If} ${FileExists} "$Target\*.*"
    StrCpy $FailText "$Target is a folder; Patinex would write a file there."
    Call Fail
  ${EndIf}
  ${IfNot} ${FileExists} $Target
    Return
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKLM "${UNINST_KEY}\Files" $Target
  ${If} ${Errors}
    ${GetFileName} $Target $1
    ${If} $Kind == "uninst"
    ${AndIf} $OldLocation == $INSTDIR
      ; the uninstaller of the install being replaced
    ${ElseIf} $Kind == "m64"
    ${OrIf} $Kind == "m32"
      StrCpy $0 $Target
      Call IsPatinexModule
      ${If} $1 != 1
        StrCpy $FailText "$Target is not Patinex's module: the setup does not replace it. Move it elsewhere, or clear that host's check box."
        Call Fail
      ${EndIf}
      DetailPrint "A Patinex module copied there by hand is replaced, and from now on recorded: $Target"
    ${Else}
      StrCpy $FailText "$Target is not a file of Patinex's: the setup does not replace it. Choose another folder for Patinex."
      Call Fail
    ${EndIf}
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
  ${If} ${Silent}
    SetErrorLevel 2
  ${Else}
    SetErrorLevel 1
  ${EndIf}
  Abort "Nothing was installed: $Target is in use."
FunctionEnd

; --- Writing, each step in the journal first --------------------------------
; $Folder and any missing folder above it, each recorded so that the
; uninstaller removes only folders the setup made; journalled the outermost
; first, so that a rollback removes the innermost first.
Function CreateFolder
  DeleteINISec $Journal "mk"
  StrCpy $0 $Folder
  StrCpy $2 0
  ${Do}
    ${If} ${FileExists} "$0\*.*"
      ${Break}
    ${EndIf}
    WriteINIStr $Journal "mk" $2 $0
    IntOp $2 $2 + 1
    ${GetParent} $0 $0
  ${LoopUntil} $0 == ""
  ${DoWhile} $2 > 0
    IntOp $2 $2 - 1
    ReadINIStr $0 $Journal "mk" $2
    ClearErrors
    ReadRegStr $1 HKLM "${UNINST_KEY}\Folders" $0
    ${If} ${Errors}
      !insertmacro Journal "record" $0 "Folders"
      WriteRegStr HKLM "${UNINST_KEY}\Folders" $0 ""
    ${EndIf}
    !insertmacro Journal "folder" $0 ""
    ClearErrors
    CreateDirectory $0
    ${If} ${Errors}
    ${OrIfNot} ${FileExists} "$0\*.*"
      StrCpy $FailText "Cannot create the folder $0."
      Call Fail
    ${EndIf}
  ${Loop}
FunctionEnd

; $Target from the payload named by $Kind: recorded, then a file already there
; kept aside (target.patinex-old), then written.
Function PutFile
  ClearErrors
  ReadRegStr $0 HKLM "${UNINST_KEY}\Files" $Target
  ${If} ${Errors}
    !insertmacro Journal "record" $Target "Files"
    ClearErrors
    WriteRegStr HKLM "${UNINST_KEY}\Files" $Target ""
    ${If} ${Errors}
      StrCpy $FailText "Cannot record $Target in the registry (no administrator rights?)."
      Call Fail
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} $Target
    StrCpy $1 0
    StrCpy $2 "$Target.patinex-old"
    ${DoWhile} ${FileExists} $2
      IntOp $1 $1 + 1
      StrCpy $2 "$Target.patinex-old$1"
    ${Loop}
    ClearErrors
    Rename $Target $2
    ${If} ${Errors}
      StrCpy $FailText "Cannot replace $Target (in use?)."
      Call Fail
    ${EndIf}
    !insertmacro Journal "replaced" $Target $2
  ${Else}
    !insertmacro Journal "file" $Target ""
  ${EndIf}
  ClearErrors
  ${If} $Kind == "m64"
    File "/oname=$Target" "${WIN64DIR}\PATINEX64.8bf"
  ${ElseIf} $Kind == "m32"
    File "/oname=$Target" "${WIN32DIR}\PATINEX.8bf"
  ${ElseIf} $Kind == "fh32"
    File "/oname=$Target" "${WIN32DIR}\filterhost.exe"
  ${ElseIf} $Kind == "fh64"
    File "/oname=$Target" "${WIN64DIR}\filterhost64.exe"
  ${ElseIf} $Kind == "readme"
    File "/oname=$Target" "${README}"
  ${ElseIf} $Kind == "licence"
    File "/oname=$Target" "${ROOT}\LICENSE"
  ${ElseIf} $Kind == "worker"
    File "/oname=$Target" "${UNINSTALLER}"
  ${ElseIf} $Kind == "uninst"
    File "/oname=$Target" "${LAUNCHER}"
  ${EndIf}
  ${If} ${Errors}
    StrCpy $FailText "Cannot write $Target."
    Call Fail
  ${EndIf}
FunctionEnd

; The text for the user ends with where this run put Patinex.
Function WriteInstalledList
  FileOpen $Handle "$INSTDIR\${README_NAME}" a
  FileSeek $Handle 0 END
  FileWrite $Handle "$\r$\nInstalled on this computer$\r$\n-------------------------$\r$\n"
  StrCpy $Index 0
  ${DoWhile} $Index < $PlanCount
    ReadINIStr $0 $Journal "p$Index" "folder"
    ReadINIStr $1 $Journal "p$Index" "name"
    FileWrite $Handle "$0\$1$\r$\n"
    IntOp $Index $Index + 1
  ${Loop}
  FileClose $Handle
FunctionEnd

!macro DropOldFile NAME
  ClearErrors
  ReadRegStr $0 HKLM "${UNINST_KEY}\Files" "$INSTDIR\${NAME}"
  ${IfNot} ${Errors}
    Delete "$INSTDIR\${NAME}"
    ${IfNot} ${FileExists} "$INSTDIR\${NAME}"
      DeleteRegValue HKLM "${UNINST_KEY}\Files" "$INSTDIR\${NAME}"
    ${EndIf}
  ${EndIf}
!macroend

Section "Patinex"
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ${If} ${Silent}
    Call BuildHostList
  ${EndIf}
  StrCpy $KeyExisted 0
  EnumRegValue $0 HKLM "${UNINST_KEY}" 0
  EnumRegKey $1 HKLM "${UNINST_KEY}" 0
  ${If} $0 != ""
  ${OrIf} $1 != ""
    StrCpy $KeyExisted 1
  ${EndIf}
  Call SaveKeyValues
  Call MakePlan

  ; Nothing is written until every folder and every file to replace is checked.
  StrCpy $Index 0
  ${DoWhile} $Index < $PlanCount
    ReadINIStr $Folder $Journal "p$Index" "folder"
    ReadINIStr $1 $Journal "p$Index" "name"
    ReadINIStr $Kind $Journal "p$Index" "kind"
    StrCpy $Target "$Folder\$1"
    Call ProbeFolder
    Call CheckTarget
    IntOp $Index $Index + 1
  ${Loop}

  SetDetailsPrint listonly
  StrCpy $Index 0
  ${DoWhile} $Index < $PlanCount
    ReadINIStr $Folder $Journal "p$Index" "folder"
    ReadINIStr $1 $Journal "p$Index" "name"
    ReadINIStr $Kind $Journal "p$Index" "kind"
    StrCpy $Target "$Folder\$1"
    Call CreateFolder
    SetDetailsPrint none
    Call PutFile
    SetDetailsPrint listonly
    DetailPrint "Installed $Target"
    IntOp $Index $Index + 1
  ${Loop}
  Call WriteInstalledList

  ClearErrors
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Patinex"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${IfNot} ${Errors}
    Call RecordSize
  ${EndIf}
  ${If} ${Errors}
    StrCpy $FailText "Cannot register Patinex in Add/Remove Programs (no administrator rights?)."
    Call Fail
  ${EndIf}

  ; Done: the files kept aside go (a held one at the next restart).
  SetDetailsPrint none
  StrCpy $Index 0
  ${DoWhile} $Index < $JournalCount
    ReadINIStr $0 $Journal "e$Index" "kind"
    ${If} $0 == "replaced"
      ReadINIStr $1 $Journal "e$Index" "extra"
      Delete /REBOOTOK $1
    ${EndIf}
    IntOp $Index $Index + 1
  ${Loop}
  StrCpy $JournalCount 0
  ; Files an earlier version wrote under names a user's file may have (1.0.0's
  ; README.txt and LICENSE.txt): they go now, with their record.
  !insertmacro DropOldFile "README.txt"
  !insertmacro DropOldFile "LICENSE.txt"
  SetDetailsPrint both
  DetailPrint "Patinex ${VERSION} is installed."
SectionEnd

; Sum of the recorded files' sizes, as EstimatedSize (KiB).
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
  IntOp $Value $Value + 1023
  IntOp $Value $Value / 1024
  ClearErrors
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $Value
FunctionEnd

Function FinishPre
  StrCpy $FinishText "Restart your image editors: Patinex is in the Filter menu under Lumivex.$\r$\n$FinishHosts$\r$\n$\r$\nFor a host the setup does not know, add $INSTDIR\Plug-ins (64-bit hosts) or $INSTDIR\Plug-ins (32-bit) (32-bit hosts) to its plug-in folders. $INSTDIR\${README_NAME} says more."
FunctionEnd
