; The benchmark's peer: the same uninstall job written the usual NSIS way. Built at benchmark time,
; with FILES naming the add-on's files as bench/run lists them; run silently once, it writes the
; uninstaller KessamarNsisUninstaller.exe beside itself.
!include LogicLib.nsh

Name "Kessamar"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SilentInstall silent
ShowUninstDetails show

Var Found
Var Failed

Section
    WriteUninstaller "$EXEDIR\KessamarNsisUninstaller.exe"
SectionEnd

UninstPage uninstConfirm
UninstPage components
UninstPage instfiles

!macro RemoveFile PATH
    ${If} ${FileExists} "${PATH}"
        IntOp $Found $Found + 1
        ClearErrors
        Delete "${PATH}"
        ${If} ${Errors}
            IntOp $Failed $Failed + 1
        ${EndIf}
    ${EndIf}
!macroend

Section "-un.Kessamar files"
    StrCpy $Found 0
    StrCpy $Failed 0
    !include "${FILES}"
SectionEnd

Section "un.Desktop shortcut"
    !insertmacro RemoveFile "$DESKTOP\Kessamar.lnk"
SectionEnd

Section "-un.Folders"
    RMDir "$INSTDIR\System"
    RMDir "$INSTDIR\Music"
    RMDir "$INSTDIR\Textures"
    RMDir "$INSTDIR\Maps"
    RMDir "$INSTDIR\Save"
    IntOp $0 $Found - $Failed
    DetailPrint "$0 of $Found found files deleted"
    ${If} ${FileExists} "$INSTDIR\Save\*.*"
        DetailPrint "Savegame folder was not deleted"
    ${EndIf}
SectionEnd
