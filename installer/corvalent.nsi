; Corvalent's per-user setup and uninstaller: no administrator rights, files in the user's local
; programs folder, a Start Menu shortcut and an Apps & features entry. Built by installer/CMakeLists.txt.
;
; makensis -DTARGET=<x86-unicode|amd64-unicode> -DSTAGE=<folder with the files> -DICON=<.ico>
;          -DOUTFILE=<setup.exe> [-DSIGN=<command that signs the file it is given>] corvalent.nsi

!ifndef TARGET | STAGE | ICON | OUTFILE
  !error "define TARGET, STAGE, ICON and OUTFILE"
!endif

Target ${TARGET}
SetCompressor /SOLID lzma
; The same bytes from every build: no file times in the data, none restored on the user's machine.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true
!ifdef SIGN
  ; The uninstaller is signed before it goes into the setup, the setup once it is written.
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

!include MUI2.nsh
!include LogicLib.nsh

!define VERSION "2.02"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvalent"
!define MAKER_KEY "Software\Bramlow Software"
!define SETTINGS_KEY "${MAKER_KEY}\Corvalent"
!define SHELL_FOLDERS_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\Shell folders"
; The program's window class and its message that ends it ("exit" sends the same).
!define WINDOW_CLASS "Corvalent"
!define MSG_EXIT 1026
!define SYNCHRONIZE 0x00100000
!define WAIT_OBJECT_0 0
!define ERROR_ALREADY_EXISTS 183
!define TOKEN_QUERY 0x0008
!define TOKEN_ELEVATION 20
; WinInet's working state, set online by the uninstaller.
!define INTERNET_OPTION_CONNECTED_STATE 50
!define INTERNET_STATE_CONNECTED 1
; How long one copy may take to end, and how many copies are ended at most.
!define END_WAIT_MS 10000
!define END_ATTEMPTS 5
; The program's exit code when the running copy refused its request (it runs elevated).
!define REQUEST_REFUSED 5
; Setup's exit codes when it refuses: another Setup or uninstaller running, a running copy that did
; not end, a folder that can't be made or written. NSIS itself gives 1 for a cancel and 2 when it
; stops the script (a file it could not write, say), so those two are never one of these.
!define EXIT_SETUP_RUNNING 3
!define EXIT_COPY_RUNNING 4
!define EXIT_BAD_FOLDER 5

Name "Corvalent"
Caption "Corvalent Setup"
UninstallCaption "Corvalent Uninstall"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Corvalent"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Corvalent ${VERSION}"
AllowSkipFiles off

Var RunningBefore   ; 1 when a copy of Corvalent ran when Setup began its work
Var EndWord         ; the command word EndRunningCopies gives the program: "exit" or "uninstall"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE LeaveDirectoryPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Corvalent now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartCorvalent
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion 2.0.2.0
VIFileVersion 2.0.2.0
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Corvalent"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Bramlow Software"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Corvalent ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright © 2026 Bramlow Software"

; One Setup or uninstaller at a time: the second one is refused.
!macro REFUSE_SECOND_SETUP
  System::Call 'kernel32::CreateMutexW(p 0, i 1, w "Corvalent Setup") p .r0 ?e'
  Pop $1
  ${If} $1 = ${ERROR_ALREADY_EXISTS}
    MessageBox MB_OK|MB_ICONSTOP "Corvalent Setup is already running." /SD IDOK
    SetErrorLevel ${EXIT_SETUP_RUNNING}
    Quit
  ${EndIf}
!macroend

; Ends every running copy of Corvalent with the program's own command word $EndWord, run from
; $INSTDIR (or, when that is missing or fails to start, with the message that "exit" sends), and
; waits until each copy's process has ended. Sets $RunningBefore; sets the error flag when a copy
; stays or its process outlives the wait, at once when it refused the program's request.
!macro END_RUNNING_COPIES un
Function ${un}EndRunningCopies
  StrCpy $RunningBefore 0
  StrCpy $R5 0
  StrCpy $R6 0
  ${Do}
    FindWindow $R0 "${WINDOW_CLASS}"
    ${If} $R0 = 0
      Return
    ${EndIf}
    ; A copy still there after it was asked and waited for is not asked again.
    ${If} $R5 >= ${END_ATTEMPTS}
    ${OrIf} $R0 = $R6
      SetErrors
      Return
    ${EndIf}
    IntOp $R5 $R5 + 1
    StrCpy $R6 $R0
    StrCpy $RunningBefore 1
    System::Call 'user32::GetWindowThreadProcessId(p R0, *i 0 R1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p .R2'
    ${If} ${FileExists} "$INSTDIR\Corvalent.exe"
    ${AndIf} ${FileExists} "$INSTDIR\CVConfig.dll"
      StrCpy $R3 ""
      ExecWait '"$INSTDIR\Corvalent.exe" $EndWord' $R3
      ; A program that could not start at all sets the error flag; the message below ends the copy.
      ClearErrors
      ${If} $R3 = ${REQUEST_REFUSED}
        System::Call 'kernel32::CloseHandle(p R2)'
        SetErrors
        Return
      ${EndIf}
    ${EndIf}
    System::Call 'user32::IsWindow(p R0) i .R4'
    ${If} $R4 <> 0
      SendMessage $R0 ${MSG_EXIT} 0 0 $R3 /TIMEOUT=${END_WAIT_MS}
    ${EndIf}
    ; The process holds the files, not its window: one that outlives the wait still runs, even
    ; with its window gone. A copy whose process can't be opened is looked for again by its window.
    ${If} $R2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p R2, i ${END_WAIT_MS}) i .R4'
      System::Call 'kernel32::CloseHandle(p R2)'
      ${If} $R4 <> ${WAIT_OBJECT_0}
        SetErrors
        Return
      ${EndIf}
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro END_RUNNING_COPIES ""
!insertmacro END_RUNNING_COPIES "un."

Function .onInit
  !insertmacro REFUSE_SECOND_SETUP
  ; NSIS replaces a /D= folder that is no valid path by the default one; take it as given instead,
  ; so that Setup refuses it rather than installing somewhere the user did not ask for.
  System::Call 'kernel32::GetCommandLineW() w .R0'
  StrLen $R1 $R0
  StrCpy $R2 0
  ${DoWhile} $R2 < $R1
    StrCpy $R3 $R0 4 $R2
    ${If} $R3 S== " /D="
      IntOp $R2 $R2 + 4
      StrCpy $INSTDIR $R0 "" $R2
      ${Break}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
FunctionEnd

Function un.onInit
  !insertmacro REFUSE_SECOND_SETUP
FunctionEnd

; $R0: empty when $INSTDIR can be made and written, otherwise the message that says why not.
; Leaves nothing behind: a test file is written and deleted, a folder made only for it removed.
Function CheckInstallFolder
  StrCpy $R0 ""
  StrCpy $R1 0
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $R1 1
  ${EndIf}
  ClearErrors
  CreateDirectory "$INSTDIR"
  FileOpen $R2 "$INSTDIR\Corvalent Setup.tmp" w
  ${If} ${Errors}
    StrCpy $R0 "Corvalent can't be installed in$\r$\n$INSTDIR$\r$\nbecause that folder can't be created or written. Please choose another folder."
  ${Else}
    FileClose $R2
    Delete "$INSTDIR\Corvalent Setup.tmp"
  ${EndIf}
  ${If} $R1 = 1
    RMDir "$INSTDIR"
  ${EndIf}
FunctionEnd

Function LeaveDirectoryPage
  Call CheckInstallFolder
  ${If} $R0 != ""
    MessageBox MB_OK|MB_ICONSTOP "$R0"
    Abort
  ${EndIf}
FunctionEnd

; Starts the program without Setup's own elevation where Setup has one (an administrator ran it
; elevated): the shell's explorer starts it with the user's token, so the shell's messages reach it.
; Elsewhere, and where the system knows no elevation, a plain start.
Function StartProgram
  StrCpy $R2 0
  System::Call 'advapi32::OpenProcessToken(p -1, i ${TOKEN_QUERY}, *p 0 R1) i .R0'
  ${If} $R0 <> 0
    System::Call 'advapi32::GetTokenInformation(p R1, i ${TOKEN_ELEVATION}, *i 0 R2, i 4, *i 0) i'
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  ${If} $R2 <> 0
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\Corvalent.exe"'
  ${Else}
    Exec '"$INSTDIR\Corvalent.exe"'
  ${EndIf}
FunctionEnd

Function StartCorvalent
  FindWindow $R0 "${WINDOW_CLASS}"
  ${If} $R0 = 0
    Call StartProgram
  ${EndIf}
FunctionEnd

; Stops Setup before it has changed anything: the message (not shown with /S) and the exit code.
!macro STOP_SETUP text code
  DetailPrint "${text}"
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${code}
  Abort
!macroend

Section "Corvalent" SectionProgram
  SectionIn RO
  Call CheckInstallFolder
  ${If} $R0 != ""
    !insertmacro STOP_SETUP "$R0" ${EXIT_BAD_FOLDER}
  ${EndIf}
  StrCpy $EndWord "exit"
  ClearErrors
  Call EndRunningCopies
  ${If} ${Errors}
    !insertmacro STOP_SETUP "Corvalent is running and did not end. Please end it and run Setup again." ${EXIT_COPY_RUNNING}
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${STAGE}\Corvalent.exe"
  File "${STAGE}\CVConfig.dll"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Corvalent.lnk" "$INSTDIR\Corvalent.exe"

  SectionGetSize ${SectionProgram} $R0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Corvalent"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Bramlow Software"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Corvalent.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $R0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ${If} $RunningBefore = 1
    Call StartProgram
  ${EndIf}
SectionEnd

Section "Uninstall"
  ; "uninstall" ends a running copy, which removes the StartUp shortcut and the settings; without
  ; a running copy the program does that itself.
  StrCpy $EndWord "uninstall"
  ClearErrors
  Call un.EndRunningCopies
  ${If} ${Errors}
    !insertmacro STOP_SETUP "Corvalent is running and did not end. Please end it and uninstall again." ${EXIT_COPY_RUNNING}
  ${EndIf}
  ${If} $RunningBefore = 0
  ${AndIf} ${FileExists} "$INSTDIR\Corvalent.exe"
  ${AndIf} ${FileExists} "$INSTDIR\CVConfig.dll"
    ExecWait '"$INSTDIR\Corvalent.exe" uninstall'
  ${EndIf}
  ; The same again for when the program could not: its files were deleted by hand, or the copy
  ; was busy in a dialog and only ended. Nothing is left afterwards to switch the working state
  ; back, so it goes online.
  System::Call 'wininet::InternetSetOptionW(p 0, i ${INTERNET_OPTION_CONNECTED_STATE}, *l ${INTERNET_STATE_CONNECTED}, i 8)'
  ReadRegStr $R0 HKCU "${SHELL_FOLDERS_KEY}" "Startup"
  ${If} $R0 != ""
    Delete "$R0\Corvalent.lnk"
  ${EndIf}
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${MAKER_KEY}"

  Delete "$INSTDIR\Corvalent.exe"
  Delete "$INSTDIR\CVConfig.dll"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Corvalent.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
