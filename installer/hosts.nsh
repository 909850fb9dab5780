; Where each host of the filter interface looks for .8bf modules, and which
; processor it runs on. BuildHostList fills $HostsIni ([hN] name, folder, bits,
; checked, note; [hosts] count) from these rules. A folder gets one module only:
; AddHost refuses a second row for a folder already listed, so a host never finds
; Patinex twice, and a 64-bit folder never receives the 32-bit module.

Var HostsIni
Var HostCount
Var AddName
Var AddFolder
Var AddBits
Var AddChecked
Var AddNote
Var FinishHosts     ; hosts whose folder the user must add by hand (last page)
Var RuleKey         ; registry enumeration
Var RuleIndex
Var RuleValue
Var RuleValue2
Var RuleBits
Var RuleName
Var RuleNumber
Var RuleScratch

; Adds a row unless its folder is listed already (compared without case and
; without a trailing backslash). A later rule that finds the same folder checked
; checks the existing row.
!macro AddHost NAME FOLDER BITS CHECKED NOTE
  StrCpy $AddName "${NAME}"
  StrCpy $AddFolder "${FOLDER}"
  StrCpy $AddBits "${BITS}"
  StrCpy $AddChecked "${CHECKED}"
  StrCpy $AddNote "${NOTE}"
  Call AddHost
!macroend

Function AddHost
  Push $0
  Push $1
  Push $2
  ; No trailing backslash.
  StrCpy $0 $AddFolder 1 -1
  ${If} $0 == "\"
    StrCpy $AddFolder $AddFolder -1
  ${EndIf}
  StrCpy $0 0
  ${DoWhile} $0 < $HostCount
    ReadINIStr $1 $HostsIni "h$0" "folder"
    ${If} $1 == $AddFolder
      ${If} $AddChecked == 1
        ReadINIStr $2 $HostsIni "h$0" "bits"
        ${If} $2 == $AddBits
          WriteINIStr $HostsIni "h$0" "checked" 1
        ${EndIf}
      ${EndIf}
      Goto done
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  WriteINIStr $HostsIni "h$HostCount" "name" $AddName
  WriteINIStr $HostsIni "h$HostCount" "folder" $AddFolder
  WriteINIStr $HostsIni "h$HostCount" "bits" $AddBits
  WriteINIStr $HostsIni "h$HostCount" "checked" $AddChecked
  WriteINIStr $HostsIni "h$HostCount" "note" $AddNote
  IntOp $HostCount $HostCount + 1
  WriteINIStr $HostsIni "hosts" "count" $HostCount
done:
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $RuleValue without a trailing backslash.
Function TrimRuleValue
  StrCpy $RuleScratch $RuleValue 1 -1
  ${If} $RuleScratch == "\"
    StrCpy $RuleValue $RuleValue -1
  ${EndIf}
FunctionEnd

; Photoshop: one key per version under HKLM\SOFTWARE\Adobe\Photoshop\<N>.0 in the
; registry view of the program's processor, with the plug-ins folder in the value
; "PluginPath" (and the program's folder in "ApplicationPath").
;   Source: filtermeister/innosetup, common/detect.iss (DetectPhotoshopFolders:
;   HKLM\Software\Adobe\Photoshop\x.0\, value PluginPath; 64-bit versions in the
;   64-bit view).
; Photoshop CC (70.0) and later also read the shared folder
; Common Files\Adobe\Plug-Ins\CC of their processor.
;   Source: 0xC0000054/gmic-8bf issue #8 ("Tell the user where to put it"):
;   C:\Program Files\Common Files\Adobe\Plug-Ins\CC\ for 64-bit CC applications,
;   C:\Program Files (x86)\Common Files\Adobe\Plug-Ins\CC\ for 32-bit ones.
; A 64-bit CC version's own folder is listed unchecked: it already finds Patinex
; in the shared folder, and a second copy would list the filter twice.
; Call with RuleBits = 64 or 32 and the matching SetRegView.
Var SharedCC
; Sets SharedCC when a 64-bit Photoshop CC or later is registered (64-bit view).
Function FindPhotoshopCC
  StrCpy $SharedCC 0
  StrCpy $RuleIndex 0
  ${Do}
    EnumRegKey $RuleKey HKLM "SOFTWARE\Adobe\Photoshop" $RuleIndex
    ${If} $RuleKey == ""
      ${Break}
    ${EndIf}
    IntOp $RuleIndex $RuleIndex + 1
    IntOp $RuleNumber $RuleKey + 0
    ${If} $RuleNumber >= 70
      StrCpy $SharedCC 1
    ${EndIf}
  ${Loop}
FunctionEnd

Function DetectPhotoshop
  StrCpy $RuleIndex 0
  ${Do}
    EnumRegKey $RuleKey HKLM "SOFTWARE\Adobe\Photoshop" $RuleIndex
    ${If} $RuleKey == ""
      ${Break}
    ${EndIf}
    IntOp $RuleIndex $RuleIndex + 1
    IntOp $RuleNumber $RuleKey + 0
    ReadRegStr $RuleValue2 HKLM "SOFTWARE\Adobe\Photoshop\$RuleKey" "ApplicationPath"
    ReadRegStr $RuleValue HKLM "SOFTWARE\Adobe\Photoshop\$RuleKey" "PluginPath"
    ${If} $RuleValue == ""
      ${If} $RuleValue2 == ""
        ${Continue}
      ${EndIf}
      StrCpy $RuleValue "$RuleValue2"
      Call TrimRuleValue
      StrCpy $RuleValue "$RuleValue\Plug-ins"
    ${EndIf}
    Call TrimRuleValue
    ; The name is the program's folder name ("Adobe Photoshop 2024").
    StrCpy $RuleName "Adobe Photoshop $RuleKey"
    ${If} $RuleValue2 != ""
      StrCpy $RuleScratch $RuleValue2 1 -1
      ${If} $RuleScratch == "\"
        StrCpy $RuleValue2 $RuleValue2 -1
      ${EndIf}
      ${GetFileName} $RuleValue2 $RuleName
    ${EndIf}
    ${If} $RuleNumber >= 70
    ${AndIf} $RuleBits == 64
      !insertmacro AddHost "$RuleName" $RuleValue 64 0 "own folder; it reads the CC folder too"
    ${Else}
      !insertmacro AddHost "$RuleName" $RuleValue $RuleBits 1 ""
    ${EndIf}
  ${Loop}
FunctionEnd

; Photoshop Elements: HKLM\SOFTWARE\Adobe\Photoshop Elements\<N>.0\PluginPath,
; default value; 64-bit from version 13 on, in the 64-bit view.
;   Source: filtermeister/innosetup, common/detect.iss
;   (DetectPhotoshopElementsFolders).
Function DetectElements
  StrCpy $RuleIndex 0
  ${Do}
    EnumRegKey $RuleKey HKLM "SOFTWARE\Adobe\Photoshop Elements" $RuleIndex
    ${If} $RuleKey == ""
      ${Break}
    ${EndIf}
    IntOp $RuleIndex $RuleIndex + 1
    ReadRegStr $RuleValue HKLM "SOFTWARE\Adobe\Photoshop Elements\$RuleKey\PluginPath" ""
    ${If} $RuleValue != ""
      Call TrimRuleValue
      !insertmacro AddHost "Adobe Photoshop Elements $RuleKey" $RuleValue $RuleBits 1 ""
    ${EndIf}
  ${Loop}
FunctionEnd

; Paint.NET loads .8bf modules through its filter-interface bridge PSFilterPdn,
; which takes them from Paint.NET's Effects folder (or a folder below it).
;   Sources: filtermeister/innosetup, common/detect.iss (DetectPaintDotNetFolders:
;   HKLM\SOFTWARE\Paint.NET, value TARGETDIR, then Effects\; Paint.NET runs on the
;   processor of the system); 0xC0000054/PSFilterPdn Readme.txt (the bridge in
;   the Effects folder, as PSFilterPdn.dll or a PSFilterPdn folder) and its wiki
;   page "Installing 8bf filters" (filters in the Effects folder or a sub folder).
; Without the bridge the row is shown unchecked.
Function DetectPaintNet
  ReadRegStr $RuleValue HKLM "SOFTWARE\Paint.NET" "TARGETDIR"
  ${If} $RuleValue == ""
    Return
  ${EndIf}
  Call TrimRuleValue
  StrCpy $RuleValue "$RuleValue\Effects"
  ${If} ${FileExists} "$RuleValue\PSFilterPdn.dll"
  ${OrIf} ${FileExists} "$RuleValue\PSFilterPdn\PSFilterPdn.dll"
    !insertmacro AddHost "Paint.NET (PSFilterPdn)" $RuleValue $RuleBits 1 ""
  ${Else}
    !insertmacro AddHost "Paint.NET" $RuleValue $RuleBits 0 "needs the PSFilterPdn plug-in to load .8bf filters"
  ${EndIf}
FunctionEnd

; IrfanView reads .8bf modules from Plugins\Adobe 8BF in its program folder:
; i_view64.exe is the 64-bit program, i_view32.exe the 32-bit one. The program
; folder is found from the App Paths entry of the .exe (the Windows convention,
; HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\<exe>, default value
; = full path of the program), else the default install folder.
;   Source: none found. No published page of IrfanView's names this folder; the
;   rule follows the folder IrfanView's Adobe 8BF plug-in reads, and is checked
;   only against the installer test's fake IrfanView.
; Call with RuleBits = 64 or 32 and the matching SetRegView.
Function DetectIrfanView
  StrCpy $RuleScratch "i_view$RuleBits.exe"
  ReadRegStr $RuleValue HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\$RuleScratch" ""
  ${If} $RuleValue != ""
    ${GetParent} $RuleValue $RuleValue
  ${ElseIf} $RuleBits == 64
    StrCpy $RuleValue "$PROGRAMFILES64\IrfanView"
  ${Else}
    StrCpy $RuleValue "$PROGRAMFILES32\IrfanView"
  ${EndIf}
  ${If} ${FileExists} "$RuleValue\$RuleScratch"
    !insertmacro AddHost "IrfanView" "$RuleValue\Plugins\Adobe 8BF" $RuleBits 1 ""
  ${EndIf}
FunctionEnd

; PaintShop Pro keeps its plug-in folders per version under HKCU, in
; ...\FileLocations\PlugIns\0, value "Dir": Software\Corel\PaintShop Pro\<version>
; (X4 and later, 64-bit editions since X4) and Software\Corel\Paint Shop Pro\<version>
; (X to X3, 32-bit only).
;   Source: filtermeister/innosetup, common/detect.iss
;   (DetectPaintShopProModernFolders, DetectPaintShopProEarlyXFolders).
; HKCU is shared by both editions of a version, so the folder decides: one under
; Program Files (x86) is a 32-bit edition's, any other is taken as the 64-bit
; edition's (the one installed by default on 64-bit Windows).
Function DetectPaintShopPro
  StrCpy $RuleIndex 0
  ${Do}
    EnumRegKey $RuleKey HKCU "Software\Corel\PaintShop Pro" $RuleIndex
    ${If} $RuleKey == ""
      ${Break}
    ${EndIf}
    IntOp $RuleIndex $RuleIndex + 1
    ReadRegStr $RuleValue HKCU "Software\Corel\PaintShop Pro\$RuleKey\FileLocations\PlugIns\0" "Dir"
    ${If} $RuleValue != ""
      Call TrimRuleValue
      StrLen $RuleNumber $PROGRAMFILES32
      StrCpy $RuleScratch $RuleValue $RuleNumber
      StrCpy $RuleBits 64
      ${IfNot} ${RunningX64}
      ${OrIf} $RuleScratch == $PROGRAMFILES32
        StrCpy $RuleBits 32
      ${EndIf}
      !insertmacro AddHost "PaintShop Pro $RuleKey" $RuleValue $RuleBits 1 ""
    ${EndIf}
  ${Loop}
  StrCpy $RuleIndex 0
  ${Do}
    EnumRegKey $RuleKey HKCU "Software\Corel\Paint Shop Pro" $RuleIndex
    ${If} $RuleKey == ""
      ${Break}
    ${EndIf}
    IntOp $RuleIndex $RuleIndex + 1
    ReadRegStr $RuleValue HKCU "Software\Corel\Paint Shop Pro\$RuleKey\FileLocations\PlugIns\0" "Dir"
    ${If} $RuleValue != ""
      Call TrimRuleValue
      !insertmacro AddHost "Paint Shop Pro $RuleKey" $RuleValue 32 1 ""
    ${EndIf}
  ${Loop}
FunctionEnd

; PhotoLine: HKCU\Software\Computerinsel\PhotoLine\Settings, value PlugInPathNew1.
;   Source: filtermeister/innosetup, common/detect.iss (DetectPhotolineFolder).
; The 64-bit PhotoLine is the one in Program Files; a PhotoLine only in
; Program Files (x86) is the 32-bit one.
Function DetectPhotoLine
  ReadRegStr $RuleValue HKCU "Software\Computerinsel\PhotoLine\Settings" "PlugInPathNew1"
  ${If} $RuleValue == ""
    Return
  ${EndIf}
  Call TrimRuleValue
  StrCpy $RuleBits 64
  ${IfNot} ${RunningX64}
    StrCpy $RuleBits 32
  ${ElseIf} ${FileExists} "$PROGRAMFILES32\PhotoLine\*.*"
  ${AndIfNot} ${FileExists} "$PROGRAMFILES64\PhotoLine\*.*"
    StrCpy $RuleBits 32
  ${EndIf}
  !insertmacro AddHost "PhotoLine" $RuleValue $RuleBits 1 ""
FunctionEnd

; Hosts without a plug-in folder of their own: the user adds a folder in the
; program. They get Patinex's own Plug-ins folder, and the last page says where
; to add it.
;   Affinity Photo: Settings > Photoshop Plugins > Plugin Search Folders > Add
;   (source: 0xC0000054/gmic-8bf wiki, "Installing in Affinity Photo", linked from
;   its Readme.md); 64-bit only.
;   XnView / XnView MP: Image > Adobe Photoshop Plugin... > Configure... > Add...
;   (source: 0xC0000054/gmic-8bf wiki, "Installing in XnView"). XnView Classic is
;   32-bit; XnView MP is 64-bit in Program Files, 32-bit in Program Files (x86).
Function DetectFolderHosts
  ${If} ${RunningX64}
    ${If} ${FileExists} "$PROGRAMFILES64\Affinity\*.*"
      !insertmacro AddHost "Patinex folder, 64-bit (Affinity Photo)" "$INSTDIR\Plug-ins" 64 1 ""
      StrCpy $FinishHosts "$FinishHosts$\r$\nAffinity Photo: Settings > Photoshop Plugins > Plugin Search Folders > Add: $INSTDIR\Plug-ins"
    ${EndIf}
    ${If} ${FileExists} "$PROGRAMFILES64\XnViewMP\xnviewmp.exe"
      !insertmacro AddHost "Patinex folder, 64-bit (XnView MP)" "$INSTDIR\Plug-ins" 64 1 ""
      StrCpy $FinishHosts "$FinishHosts$\r$\nXnView MP: Image > Adobe Photoshop Plugin... > Configure... > Add: $INSTDIR\Plug-ins"
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$PROGRAMFILES32\XnViewMP\xnviewmp.exe"
    !insertmacro AddHost "Patinex folder, 32-bit (XnView MP)" "$INSTDIR\Plug-ins (32-bit)" 32 1 ""
    StrCpy $FinishHosts "$FinishHosts$\r$\nXnView MP (32-bit): Image > Adobe Photoshop Plugin... > Configure... > Add: $INSTDIR\Plug-ins (32-bit)"
  ${EndIf}
  ${If} ${FileExists} "$PROGRAMFILES32\XnView\xnview.exe"
    !insertmacro AddHost "Patinex folder, 32-bit (XnView)" "$INSTDIR\Plug-ins (32-bit)" 32 1 ""
    StrCpy $FinishHosts "$FinishHosts$\r$\nXnView: Image > Adobe Photoshop Plugin... > Configure... > Add: $INSTDIR\Plug-ins (32-bit)"
  ${EndIf}
FunctionEnd

; Every rule, in the order the page lists them, then Patinex's own folders (one
; per processor, for hosts the user points at them).
Function BuildHostList
  Delete $HostsIni
  StrCpy $HostCount 0
  StrCpy $SharedCC 0
  StrCpy $FinishHosts ""
  ${If} ${RunningX64}
    SetRegView 64
    StrCpy $RuleBits 64
    Call FindPhotoshopCC
    ${If} $SharedCC == 1
    ${OrIf} ${FileExists} "$COMMONFILES64\Adobe\Plug-Ins\CC\*.*"
      !insertmacro AddHost "Adobe Photoshop CC and later" "$COMMONFILES64\Adobe\Plug-Ins\CC" 64 1 ""
    ${EndIf}
    Call DetectPhotoshop
    Call DetectElements
    Call DetectPaintNet
    Call DetectIrfanView
    SetRegView 32
  ${EndIf}
  StrCpy $RuleBits 32
  Call DetectPhotoshop
  Call DetectElements
  Call DetectIrfanView
  ${IfNot} ${RunningX64}
    Call DetectPaintNet
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  Call DetectPaintShopPro
  Call DetectPhotoLine
  Call DetectFolderHosts
  ; The folder for a processor no host found uses is listed unchecked.
  StrCpy $RuleBits 0
  StrCpy $RuleIndex 0
  ${DoWhile} $RuleIndex < $HostCount
    ReadINIStr $RuleScratch $HostsIni "h$RuleIndex" "bits"
    ${If} $RuleScratch == 32
      StrCpy $RuleBits 1
    ${EndIf}
    IntOp $RuleIndex $RuleIndex + 1
  ${Loop}
  ${If} ${RunningX64}
    !insertmacro AddHost "Patinex folder (64-bit hosts)" "$INSTDIR\Plug-ins" 64 1 "for hosts you point at a folder yourself"
  ${EndIf}
  !insertmacro AddHost "Patinex folder (32-bit hosts)" "$INSTDIR\Plug-ins (32-bit)" 32 $RuleBits "for 32-bit hosts you point at a folder yourself"
FunctionEnd
