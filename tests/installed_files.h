// The add-on's files as its installer lays them out, written down apart from the engine's table.
#pragma once

const int kRowCount = 15;
const unsigned kEveryRow = (1u << kRowCount) - 1;

// Relative to the install folder, in the order the uninstaller handles them.
inline const char *const kInstalledFiles[kRowCount] = {
    "System\\Kessamar.u",          "System\\KessamarText.u",     "System\\KessamarAudioKS.u",
    "System\\Kessamar.ini",        "System\\Kessamar.ico",       "Music\\Kessamar_Intro.umx",
    "Textures\\kessamar.utx",      "Textures\\KSMenuTex.utx",    "Maps\\KSMenu.kx",
    "Maps\\Kessamar_Eend.kx",      "Maps\\16_Kessamar_Intro.kx", "Maps\\16_Kessamar_House.kx",
    "Maps\\16_Kessamar_Halvek.kx", "Maps\\16_Kessamar_Vorn.kx",  "Kessamar.lnk",
};

// The add-on's folders; the first four hold content, Save holds savegames.
inline const char *const kAddOnFolders[5] = {"System", "Music", "Textures", "Maps", "Save"};

// Which of kAddOnFolders each file lies in; -1 for the install folder itself.
inline const int kFileFolder[kRowCount] = {0, 0, 0, 0, 0, 1, 2, 2, 3, 3, 3, 3, 3, 3, -1};
