; The Lexitray installer for one architecture, built by scripts/package:
;   makensis /DARCH=x86|x64 /DSOURCE=<source folder> /DBUILD=<build folder> /DSTAGE=<staged files>
;            /DDICTIONARIES=<staged Dictionaries folder> /DOUTFILE=<installer> lexitray.nsi
; BUILD holds version.nsh (written by CMake); STAGE holds lexitray.exe and LICENSE.txt; DICTIONARIES holds
; wn.index, wn.dict.dz and WordNet-LICENSE.txt.
; For the current user by default, without administrator rights, into %LOCALAPPDATA%\Programs\Lexitray
; with its Apps & Features entry under HKCU; for all users on request (elevating then), into Program
; Files with the entry under HKLM. An install for all users that is already there (every version up to
; 1.1.0 made one) is upgraded in place. The x64 installer is itself a 64-bit program.
; Two components: the program (required) and the offline English dictionary (WordNet 3.0, ticked at
; first, so a silent install takes it too) in Dictionaries beside the program, where it looks for
; dictd-format databases; WordNet's licence page comes only while that one is ticked.
; Command line: /S silent, /ALLUSERS or /CURRENTUSER to choose without the page that asks.

!include "${BUILD}/version.nsh"

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include x64.nsh
!include nsDialogs.nsh

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
; Given on the command line, or on the page that asks: 1 installs for all users, 0 for the current one.
Var allUsers
; 1 when the command line chose, so the page that asks is left out.
Var modeGiven
; Given to the uninstaller started elevated by the one that is not: it leaves the user's part to it.
!define MACHINE_PART_OPTION "/MACHINEPART"
Var machinePartOnly
Var modePage
Var justMeButton
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
Page custom showModePage leaveModePage
; After the page that asks for whom: an install for all users restarts elevated from there, and the
; choice made here would be lost.
; The description under the list leaves the list wide enough for the dictionary's whole name.
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE skipUnlessDictionary
!define MUI_PAGE_HEADER_TEXT "WordNet License"
!define MUI_PAGE_HEADER_SUBTEXT "The offline English dictionary is WordNet 3.0 from Princeton University."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "If you accept these terms, click I Agree. To install ${PRODUCT} without the dictionary, go Back and untick it."
!insertmacro MUI_PAGE_LICENSE "${DICTIONARIES}/WordNet-LICENSE.txt"
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

; The shell folders, the registry root (SHCTX) and, unless /D= gave one, the folder of the chosen kind of
; install; an install of that kind already there keeps its folder.
Function applyInstallMode
    ${If} $allUsers = 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        StrCpy $INSTDIR $0
    ${ElseIf} $allUsers = 1
        !if "${ARCH}" == "x64"
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        !else
            StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
        !endif
    ${Else}
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
FunctionEnd

; An install for all users needs an administrator: without one, this installer starts again elevated,
; with the same choice, and ends when that one has.
Function elevateForAllUsers
    ${If} $allUsers <> 1
        Return
    ${EndIf}
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        Return
    ${EndIf}
    StrCpy $1 "/ALLUSERS"
    ${If} ${Silent}
        StrCpy $1 "/S $1"
    ${EndIf}
    ClearErrors
    ExecShellWait "runas" "$EXEPATH" "$1"
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "Installing ${PRODUCT} for all users needs an administrator." /SD IDOK
    ${EndIf}
    Quit
FunctionEnd

Function applyShellContext
    ${If} $allUsers = 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Function .onInit
    !insertmacro USE_PROGRAM_REGISTRY_VIEW
    ${GetParameters} $R0
    StrCpy $modeGiven 1
    ClearErrors
    ${GetOptions} $R0 "/ALLUSERS" $R1
    ${IfNot} ${Errors}
        StrCpy $allUsers 1
    ${Else}
        ClearErrors
        ${GetOptions} $R0 "/CURRENTUSER" $R1
        ${IfNot} ${Errors}
            StrCpy $allUsers 0
        ${Else}
            StrCpy $modeGiven 0
            ; An install for all users already there is upgraded in place: one entry stays.
            ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
            ${If} $R1 != ""
                StrCpy $allUsers 1
            ${Else}
                StrCpy $allUsers 0
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $modeGiven = 1
    ${OrIf} ${Silent}
        Call elevateForAllUsers
    ${EndIf}
    ; /D= on the command line comes before any folder of ours.
    ${If} $INSTDIR != ""
        StrCpy $R2 $INSTDIR
        Call applyInstallMode
        StrCpy $INSTDIR $R2
    ${Else}
        Call applyInstallMode
    ${EndIf}
FunctionEnd

Function showModePage
    ${If} $modeGiven = 1
        Abort
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "Choose Users" "Choose for whom to install ${PRODUCT}."
    nsDialogs::Create 1018
    Pop $modePage
    ${NSD_CreateRadioButton} 0 0 100% 12u "Only for me (no administrator needed)"
    Pop $justMeButton
    ${NSD_CreateRadioButton} 0 16u 100% 12u "For all users of this computer (needs an administrator)"
    Pop $0
    ${If} $allUsers = 1
        ${NSD_Check} $0
    ${Else}
        ${NSD_Check} $justMeButton
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function leaveModePage
    ${NSD_GetState} $justMeButton $0
    ${If} $0 = ${BST_CHECKED}
        StrCpy $allUsers 0
    ${Else}
        StrCpy $allUsers 1
    ${EndIf}
    Call elevateForAllUsers
    Call applyInstallMode
FunctionEnd

; The user's own part of an uninstall: the autostart value and, when asked, the settings.
Function un.removeUsersPart
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ; Settings belong to the user: a silent uninstall keeps them.
    SetShellVarContext current
    ${If} $APPDATA != ""
    ${AndIf} ${FileExists} "$APPDATA\${PRODUCT}\*.*"
        MessageBox MB_YESNO|MB_ICONQUESTION "Also delete your ${PRODUCT} settings in $APPDATA\${PRODUCT}?" /SD IDNO IDNO keepSettings
        RMDir /r "$APPDATA\${PRODUCT}"
        keepSettings:
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro USE_PROGRAM_REGISTRY_VIEW
    ${GetParameters} $R0
    StrCpy $machinePartOnly 0
    ClearErrors
    ${GetOptions} $R0 "${MACHINE_PART_OPTION}" $R1
    ${IfNot} ${Errors}
        StrCpy $machinePartOnly 1
    ${EndIf}
    ; This uninstaller belongs to the install for all users when that one lies in its folder.
    StrCpy $allUsers 0
    ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R1 != ""
    ${AndIf} $R1 == $INSTDIR
        StrCpy $allUsers 1
    ${EndIf}
    ${If} $allUsers = 1
        SetShellVarContext all
        UserInfo::GetAccountType
        Pop $R1
        ${If} $R1 != "Admin"
            ; An administrator removes the files and the entry; the user's part stays with this user.
            StrCpy $R2 "${MACHINE_PART_OPTION}"
            ${If} ${Silent}
                StrCpy $R2 "/S $R2"
            ${EndIf}
            ClearErrors
            ExecShellWait "runas" "$EXEPATH" "$R2 _?=$INSTDIR"
            ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
            ${If} ${Errors}
            ${OrIf} $R1 != ""
                MessageBox MB_OK|MB_ICONSTOP "Removing ${PRODUCT} for all users needs an administrator." /SD IDOK
                Quit
            ${EndIf}
            Call un.removeUsersPart
            Quit
        ${EndIf}
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Function startAsUser
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\${PROGRAM}"'
FunctionEnd

Section "${PRODUCT} (required)" secProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    ; Also frees the dictionary files, which the running program may hold open.
    !insertmacro CLOSE_PROGRAM_OR_ASK ""

    File "${STAGE}/${PROGRAM}"
    File "${STAGE}/LICENSE.txt"
SectionEnd

Section "Offline English dictionary (WordNet 3.0, 12 MB)" secDictionary
    SetOutPath "$INSTDIR\Dictionaries"
    File "${DICTIONARIES}/wn.index"
    File "${DICTIONARIES}/wn.dict.dz"
    File "${DICTIONARIES}/WordNet-LICENSE.txt"
SectionEnd

; Last, so that the size in Apps & Features counts every component installed.
Section "-Register"
    ; The shortcut's working folder is the output folder.
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    Call applyShellContext
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A value an older version left for all users would start that copy at sign-in; the program
    ; writes its own per-user value at its next start. Only an administrator may delete it.
    ${If} $allUsers = 1
        !insertmacro DELETE_MACHINE_RUN_VALUES
    ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${secProgram} "The program, its licence and its Start menu shortcut."
    !insertmacro MUI_DESCRIPTION_TEXT ${secDictionary} "Looks words up without a server: WordNet 3.0, in the Dictionaries folder beside the program."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; WordNet's licence page is for those who install WordNet.
Function skipUnlessDictionary
    ${IfNot} ${SectionIsSelected} ${secDictionary}
        Abort
    ${EndIf}
FunctionEnd

Section "Uninstall"
    !insertmacro CLOSE_PROGRAM_OR_ASK "un."
    Delete "$INSTDIR\${PROGRAM}"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; Only the dictionary files this installer put there: databases the user added stay, with their folder.
    Delete "$INSTDIR\Dictionaries\wn.index"
    Delete "$INSTDIR\Dictionaries\wn.dict.dz"
    Delete "$INSTDIR\Dictionaries\WordNet-LICENSE.txt"
    RMDir "$INSTDIR\Dictionaries"
    RMDir "$INSTDIR"

    ${If} $allUsers = 1
        SetShellVarContext all
        !insertmacro DELETE_MACHINE_RUN_VALUES
    ${Else}
        SetShellVarContext current
    ${EndIf}
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ${If} $machinePartOnly <> 1
        Call un.removeUsersPart
    ${EndIf}
SectionEnd
