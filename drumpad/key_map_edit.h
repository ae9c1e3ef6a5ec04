#pragma once
// 编辑键位: the current kit's 键位.ini in the system's text editor, and the
// kit reloaded once the user comes back after changing it.

// Writes the key map of what the kit plays now when it has none, opens it
// in Notepad from the system folder and watches the file.
void EditKeyMap();
// The main window became active: reloads the kit when the watched key map
// changed (size or time) while the kit is still the one loaded.
void ReloadKitIfKeyMapChanged();
