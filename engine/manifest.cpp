// The add-on's fixed file table, the process-wide state record and path composition.
#include <stdarg.h>
#include <stdio.h>

#include "engine.h"

// Row order is binding: it is the order of the existence tests, the deletions and the flags.
const ManifestEntry InstallManifest[kExpectedFiles] = {
    {"%s\\System\\Kessamar.u"},
    {"%s\\System\\KessamarText.u"},
    {"%s\\System\\KessamarAudioKS.u"},
    {"%s\\System\\Kessamar.ini"},
    {"%s\\System\\Kessamar.ico"},
    {"%s\\Music\\Kessamar_Intro.umx"},
    {"%s\\Textures\\kessamar.utx"},
    {"%s\\Textures\\KSMenuTex.utx"},
    {"%s\\Maps\\KSMenu.kx"},
    {"%s\\Maps\\Kessamar_Eend.kx"},
    {"%s\\Maps\\16_Kessamar_Intro.kx"},
    {"%s\\Maps\\16_Kessamar_House.kx"},
    {"%s\\Maps\\16_Kessamar_Halvek.kx"},
    {"%s\\Maps\\16_Kessamar_Vorn.kx"},
    {"%s\\Kessamar.lnk"},
};

// Every row counts as found until the scan proves otherwise.
UninstallState g_uninstall = {"", {}, kExpectedFiles, 0, false, "", false, false};

bool FormatText(char *text, size_t textSize, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, textSize, format, arguments);
    va_end(arguments);
    if (length < 0 || (size_t)length >= textSize) {
        text[0] = '\0';
        return false;
    }
    return true;
}

bool ComposePath(char (&path)[kPathSize], const char *pattern, const char *folder)
{
    path[0] = '\0';
    return folder[0] != '\0' && FormatText(path, sizeof path, pattern, folder);
}
