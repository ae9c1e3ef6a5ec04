#pragma once
// The program runs elevated: a DLL that the current folder (where music was
// opened from) holds under a system DLL's name must never be loaded.

// Limits every later load by bare name to the system folder; bass.dll is
// loaded by its full path. Called first thing at start-up. False on a
// system without SetDefaultDllDirectories (Windows 7 without its update),
// where only the current folder is taken out of the search.
bool RestrictDllSearch();
