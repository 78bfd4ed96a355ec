; Tidemark's setup program: a per-user install into
; %LOCALAPPDATA%\Programs\Tidemark that needs no administrator rights, a
; Start menu shortcut, an optional logon entry, and an uninstaller listed
; under the current user's installed programs. /S installs silently (with
; the logon entry, without starting Tidemark).
;
; Built by CMake (installer/CMakeLists.txt), which defines:
;   VERSION      the program's version text ("2.01")
;   VIVERSION    the same as four numbers for the version resource ("2.1.0.0")
;   EXE          the tidemark.exe to install
;   ICON         the program icon
;   OUTFILE      the setup program to write

; A 64-bit installer for the 64-bit program (Windows 11 is 64-bit only).
Target amd64-unicode
!include "MUI2.nsh"
!include "nsDialogs.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Tidemark"
!define PUBLISHER "Brindlewick Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidemark"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "Software\Brindlewick Software\Tidemark"
; The controller form's window class and caption: closing it is what the
; tray menu's "&Close" does, so the desktop icons come back first.
!define MAIN_FORM_CLASS "TidemarkForm"
!define MAIN_FORM_TITLE "Brindlewick Software - Tidemark"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; Per user: no UAC prompt, and $LOCALAPPDATA, $SMPROGRAMS and HKCU are the
; user's own, even when an administrator starts it for that user.
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Tidemark"
; An update goes where the earlier version went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER}"
SetCompressor /SOLID lzma

; The program itself states no copyright either.
!pragma warning disable 9100
VIProductVersion "${VIVERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

Var StartAtLogon
Var StartNow
Var LogonCheckBox
Var StartNowCheckBox

Page custom OptionsPage OptionsPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Tidemark has been installed. It lives in the notification area; right-click its icon for the menu, and choose Setup to enter your mailbox."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Function .onInit
  StrCpy $StartAtLogon ${BST_CHECKED}
  ; A silent install (an administrator's) does not start the program.
  ${If} ${Silent}
    StrCpy $StartNow ${BST_UNCHECKED}
  ${Else}
    StrCpy $StartNow ${BST_CHECKED}
  ${EndIf}
FunctionEnd

Function OptionsPage
  !insertmacro MUI_HEADER_TEXT "Options" "Choose when Tidemark starts."
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 30u "Tidemark will be installed for you alone in $INSTDIR, with a shortcut in the Start menu. It needs no administrator rights."
  Pop $0
  ${NSD_CreateCheckbox} 0 40u 100% 12u "Start Tidemark when I log on"
  Pop $LogonCheckBox
  ${NSD_SetState} $LogonCheckBox $StartAtLogon
  ${NSD_CreateCheckbox} 0 58u 100% 12u "Start Tidemark now"
  Pop $StartNowCheckBox
  ${NSD_SetState} $StartNowCheckBox $StartNow
  ${NSD_CreateLabel} 0 80u 100% 30u "You can change the first choice later in Tidemark's Setup dialog."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function OptionsPageLeave
  ${NSD_GetState} $LogonCheckBox $StartAtLogon
  ${NSD_GetState} $StartNowCheckBox $StartNow
FunctionEnd

; Ends a running Tidemark, and waits until its program file can be replaced
; or removed (a running .exe is locked by its image mapping). Gives up after
; about 10 s; the file steps then report what they could not do.
!macro CLOSE_TIDEMARK un
Function ${un}CloseTidemark
  StrCpy $R1 0
  ${Do}
    FindWindow $R0 "${MAIN_FORM_CLASS}" "${MAIN_FORM_TITLE}"
    ${If} $R0 <> 0
      SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    ${ElseIfNot} ${FileExists} "$INSTDIR\tidemark.exe"
      ${Break}
    ${Else}
      ClearErrors
      FileOpen $R2 "$INSTDIR\tidemark.exe" a
      ${IfNot} ${Errors}
        FileClose $R2
        ${Break}
      ${EndIf}
    ${EndIf}
    Sleep 200
    IntOp $R1 $R1 + 1
  ${LoopUntil} $R1 >= 50
FunctionEnd
!macroend
!insertmacro CLOSE_TIDEMARK ""
!insertmacro CLOSE_TIDEMARK "un."

Section "Tidemark"
  ; An earlier version may be running from here.
  Call CloseTidemark
  SetOutPath "$INSTDIR"
  File "/oname=tidemark.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Tidemark.lnk" "$INSTDIR\tidemark.exe" "" "$INSTDIR\tidemark.exe" 0

  ; Quoted: the user's folder may hold blanks.
  ${If} $StartAtLogon == ${BST_CHECKED}
    WriteRegStr HKCU "${RUN_KEY}" "Tidemark" '"$INSTDIR\tidemark.exe"'
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "Tidemark"
  ${EndIf}

  ; The settings key is never touched here: an update keeps the settings.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tidemark.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KB, as the list of installed programs shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; After the finish page, so the splash does not cover it.
Function .onInstSuccess
  ${If} $StartNow == ${BST_CHECKED}
    Exec '"$INSTDIR\tidemark.exe"'
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseTidemark
  ; Only the files this program put there: the folder itself goes only
  ; when nothing else is left in it.
  Delete "$INSTDIR\tidemark.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Tidemark.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Tidemark"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; A silent uninstall keeps the settings. The ids of the messages seen
  ; are kept per server and user name in the user's application data, and
  ; name both: they go with the settings.
  MessageBox MB_YESNO|MB_ICONQUESTION "Keep your Tidemark settings (mail server, user name, password, poll interval) for a later install?" /SD IDYES IDYES keep
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\${PUBLISHER}"
    RMDir /r "$APPDATA\${PUBLISHER}\${PRODUCT}"
    RMDir "$APPDATA\${PUBLISHER}"
  keep:
SectionEnd
