#pragma once
// The audio library opened on an output device for the whole run, its
// preconditions at start-up, the sound cards it can be opened on and the
// start-up chime.
#include <cstdint>
#include <string>
#include <vector>

// Device names in device-number order: entry n-1 is device n.
extern std::vector<std::string> SoundCards;
// Card the engine was last opened on by a switch; 1 at start-up.
extern int CurrentCardIndex;
// Command id of the card item with the check mark; 0 before any switch.
extern int32_t MarkedCardCommand;

// Without any wave output device: message and end.
void CheckOutputDevices();
// Without bass.dll beside the program: message, home page, end.
void CheckAudioLibrary();
// Opens the default device and lists the sound cards; says so when the
// wish for exclusive output was not met.
void StartAudioEngine();
// A card switch's outcome: the engine now plays on `card` when it was
// opened anew, and the item of `command` carries the only check mark.
void MarkSwitchedCard(int32_t command, int card, bool opened);
// The built-in chime, once, through the system's wave output.
void PlayStartupSound();
