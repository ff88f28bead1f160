; Corvane's installer. scripts/dist.sh builds it with makensis and hands in:
;   VERSION  the release version, x.y.z, as the build declares it
;   STAGE    the folder that holds the files to install (the same ones the zip holds)
;   OUTFILE  where to write the setup program
;   CLSID_TLINFO  the class that Corvane creates to read a library's facts (from the build)
; The installer registers our TypeLib Information server only when no server is registered for
; the class yet, records that it did, and its uninstaller unregisters the server only then.

Unicode true
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | OUTFILE | CLSID_TLINFO
  !error "Build this with scripts/dist.sh, which defines VERSION, STAGE, OUTFILE and CLSID_TLINFO"
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Corvane"
!define COMPONENT "CorvaneTLInfo.dll"
!define STATE_KEY "Software\Corvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${STATE_KEY}" "InstallDir"
; Registering a COM server writes under HKEY_LOCAL_MACHINE.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The Corvane project"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Corvane.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---- The registration of the class, shared by installer and uninstaller ----------------------

; Out $R0: the path registered as the class's in-process server; "" when none is registered.
; A server key without a path still belongs to someone, so it answers "?" then.
!macro DEFINE_FIND_SERVER un
Function ${un}FindServer
  Push $R1
  StrCpy $R0 ""
  ; Both the merged view and the machine-wide classes: a server registered for the user alone
  ; shows only in the first.
  ReadRegStr $R0 HKCR "CLSID\${CLSID_TLINFO}\InprocServer32" ""
  ${If} $R0 == ""
    ReadRegStr $R0 HKLM "Software\Classes\CLSID\${CLSID_TLINFO}\InprocServer32" ""
  ${EndIf}
  ${If} $R0 == ""
    ClearErrors
    EnumRegKey $R1 HKCR "CLSID\${CLSID_TLINFO}\InprocServer32" 0
    ${IfNot} ${Errors}
      StrCpy $R0 "?"
    ${EndIf}
    ClearErrors
    EnumRegKey $R1 HKLM "Software\Classes\CLSID\${CLSID_TLINFO}\InprocServer32" 0
    ${IfNot} ${Errors}
      StrCpy $R0 "?"
    ${EndIf}
  ${EndIf}
  Pop $R1
FunctionEnd

; In $R0: a registered server path. Out $R1: 1 when it names the component in $INSTDIR.
; Registration may have written the path in another spelling, so the short forms count too.
Function ${un}IsOurServer
  Push $R2
  Push $R3
  StrCpy $R1 0
  StrCpy $R2 $R0
  ; A registered path may be quoted.
  StrCpy $R3 $R2 1
  ${If} $R3 == '"'
    StrCpy $R2 $R2 "" 1
    StrCpy $R3 $R2 1 -1
    ${If} $R3 == '"'
      StrCpy $R2 $R2 -1
    ${EndIf}
  ${EndIf}
  ${If} $R2 == "$INSTDIR\${COMPONENT}"
    StrCpy $R1 1
  ${ElseIf} ${FileExists} "$INSTDIR\${COMPONENT}"
    GetFullPathName /SHORT $R2 $R2
    GetFullPathName /SHORT $R3 "$INSTDIR\${COMPONENT}"
    ${If} $R2 != ""
    ${AndIf} $R2 == $R3
      StrCpy $R1 1
    ${EndIf}
  ${EndIf}
  Pop $R3
  Pop $R2
FunctionEnd
!macroend
!insertmacro DEFINE_FIND_SERVER ""
!insertmacro DEFINE_FIND_SERVER "un."

; ---- Install ---------------------------------------------------------------------------------

Function .onInit
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Installing ${PRODUCT} needs administrator rights." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\Corvane.exe"
  File "${STAGE}\corvane-cli.exe"
  File "${STAGE}\${COMPONENT}"
  ; Corvane.exe, corvane-cli.exe and the component each have a library file read by this program
  ; first, in a process of its own; they look for it beside themselves.
  File "${STAGE}\corvane-reader.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Corvane.exe"

  WriteRegStr HKLM "${STATE_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${STATE_KEY}" "Version" "${VERSION}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Corvane project"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Corvane.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The component: register it only where no server is registered for the class, so that a
  ; server another program set up is never replaced, and remember whether we did.
  Call FindServer
  ${If} $R0 == ""
    ClearErrors
    RegDLL "$INSTDIR\${COMPONENT}"
    ${If} ${Errors}
      DetailPrint "Registering ${COMPONENT} failed."
      WriteRegDWORD HKLM "${STATE_KEY}" "ComponentRegistered" 0
      MessageBox MB_ICONEXCLAMATION "Registering ${COMPONENT} failed: Corvane cannot read libraries until a TypeLib Information server is registered." /SD IDOK
      SetErrorLevel 2
    ${Else}
      DetailPrint "Registered ${COMPONENT}."
      WriteRegDWORD HKLM "${STATE_KEY}" "ComponentRegistered" 1
    ${EndIf}
  ${Else}
    Call IsOurServer
    ReadRegDWORD $0 HKLM "${STATE_KEY}" "ComponentRegistered"
    ${If} $R1 == 1
    ${AndIf} $0 == 1
      ; An earlier install of ours registered it in this folder: it stays ours.
      DetailPrint "${COMPONENT} is registered from an earlier install."
    ${Else}
      DetailPrint "A TypeLib Information server is already registered ($R0); leaving it as it is."
      WriteRegDWORD HKLM "${STATE_KEY}" "ComponentRegistered" 0
    ${EndIf}
  ${EndIf}
SectionEnd

; ---- Uninstall -------------------------------------------------------------------------------

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  ; Unregister the component only if this install registered it and the class still names our
  ; copy: a server registered since by someone else stays.
  ReadRegDWORD $0 HKLM "${STATE_KEY}" "ComponentRegistered"
  ${If} $0 == 1
    Call un.FindServer
    Call un.IsOurServer
    ${If} $R1 == 1
      ClearErrors
      UnRegDLL "$INSTDIR\${COMPONENT}"
      ${If} ${Errors}
        ; The file goes below, so a registration left behind would name a missing server.
        DetailPrint "Unregistering ${COMPONENT} failed; removing its class key."
        DeleteRegKey HKLM "Software\Classes\CLSID\${CLSID_TLINFO}"
      ${Else}
        DetailPrint "Unregistered ${COMPONENT}."
      ${EndIf}
    ${Else}
      DetailPrint "The class now names another server ($R0); leaving it as it is."
    ${EndIf}
  ${EndIf}

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\Corvane.exe"
  Delete "$INSTDIR\corvane-cli.exe"
  Delete "$INSTDIR\${COMPONENT}"
  Delete "$INSTDIR\corvane-reader.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: files the user put there stay.
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${STATE_KEY}"
SectionEnd
