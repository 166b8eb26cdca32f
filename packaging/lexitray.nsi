; The Lexitray installer for one architecture, built by scripts/package:
;   makensis /DARCH=x86|x64 /DSOURCE=<source folder> /DBUILD=<build folder> /DSTAGE=<staged files>
;            /DOUTFILE=<installer> lexitray.nsi
; BUILD holds version.nsh (written by CMake); STAGE holds lexitray.exe and LICENSE.txt.
; Per machine, into Program Files; the x64 installer is itself a 64-bit program.

!include "${BUILD}/version.nsh"

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include x64.nsh

!define PRODUCT "Lexitray"
!define PROGRAM "lexitray.exe"
!define WINDOW_CLASS "Lexitray"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lexitray"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Lexitray"
; How long the running program gets to close: 100 rounds of 100 ms.
!define CLOSE_ROUNDS 100

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup (${ARCH})"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"

!define MUI_ICON "${SOURCE}/res/lexitray.ico"
!define MUI_UNICON "${NSISDIR}/Contrib/Graphics/Icons/modern-uninstall.ico"
!define MUI_ABORTWARNING
; The installer runs elevated; the program must not, so the finish page starts it through the shell,
; which runs it as the signed-in user.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!define MUI_FINISHPAGE_RUN_FUNCTION startAsUser

!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Closes a running Lexitray the way its own Exit does (WM_CLOSE to its hidden window) and waits until
; its window and its program file are free. Sets the error flag when it is still running.
!macro CLOSE_PROGRAM_FUNCTION un
Function ${un}closeProgram
    Push $0
    Push $1
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 <> 0
        DetailPrint "Closing the running ${PRODUCT}"
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${EndIf}
    StrCpy $1 0
    ${Do}
        ClearErrors
        FindWindow $0 "${WINDOW_CLASS}"
        ${If} $0 = 0
            ; A running program file cannot be deleted: once it can, the process is gone.
            Delete "$INSTDIR\${PROGRAM}"
            ${IfNot} ${Errors}
                ${ExitDo}
            ${EndIf}
        ${EndIf}
        IntOp $1 $1 + 1
        ${If} $1 >= ${CLOSE_ROUNDS}
            SetErrors
            ${ExitDo}
        ${EndIf}
        Sleep 100
    ${Loop}
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro CLOSE_PROGRAM_FUNCTION ""
!insertmacro CLOSE_PROGRAM_FUNCTION "un."

!macro USE_PROGRAM_REGISTRY_VIEW
    !if "${ARCH}" == "x64"
        SetRegView 64
    !else
        SetRegView default
    !endif
!macroend

; Older versions wrote the autostart value for all users, from a 32-bit or a 64-bit program.
!macro DELETE_MACHINE_RUN_VALUES
    !if "${ARCH}" == "x64"
        SetRegView 32
        DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
        SetRegView 64
        DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    !else
        ${If} ${RunningX64}
            SetRegView 64
            DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
            SetRegView default
        ${EndIf}
        DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    !endif
!macroend

; Closes the program, and while it stays open asks the user to end it (a silent run gives up).
!macro CLOSE_PROGRAM_OR_ASK un
    ${Do}
        Call ${un}closeProgram
        ${IfNot} ${Errors}
            ${ExitDo}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is still running. Please choose Exit in its tray menu, then Retry." /SD IDCANCEL IDRETRY +2
        Abort "${PRODUCT} is still running."
    ${Loop}
!macroend

Function .onInit
    !insertmacro USE_PROGRAM_REGISTRY_VIEW
FunctionEnd

Function un.onInit
    !insertmacro USE_PROGRAM_REGISTRY_VIEW
FunctionEnd

Function startAsUser
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\${PROGRAM}"'
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    !insertmacro CLOSE_PROGRAM_OR_ASK ""

    File "${STAGE}/${PROGRAM}"
    File "${STAGE}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    SetShellVarContext all
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A value an older version left for all users would start that copy at sign-in; the program
    ; writes its own per-user value at its next start.
    !insertmacro DELETE_MACHINE_RUN_VALUES
SectionEnd

Section "Uninstall"
    !insertmacro CLOSE_PROGRAM_OR_ASK "un."
    Delete "$INSTDIR\${PROGRAM}"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    !insertmacro DELETE_MACHINE_RUN_VALUES

    ; Settings belong to the user: a silent uninstall keeps them.
    SetShellVarContext current
    ${If} $APPDATA != ""
    ${AndIf} ${FileExists} "$APPDATA\${PRODUCT}\*.*"
        MessageBox MB_YESNO|MB_ICONQUESTION "Also delete your ${PRODUCT} settings in $APPDATA\${PRODUCT}?" /SD IDNO IDNO keepSettings
        RMDir /r "$APPDATA\${PRODUCT}"
        keepSettings:
    ${EndIf}
SectionEnd
