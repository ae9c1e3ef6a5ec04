#pragma once

#include <string>

// The whole start-up, in its fixed order; returns only if the message loop ends.
void RunStartup();

// Start-up steps that build the main window: a third of the screen in the
// middle, and the label in the middle third of the window.
void CreateMainWindow();
void CreateWelcomeLabel(const std::string& text);
// The start-up step that lets the recorder name its hits by the kits'
// keys: every drum hit of a recording becomes its key's note.
void ConnectHitNotes();
