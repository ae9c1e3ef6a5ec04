#pragma once
// The audio library opened on an output device for the whole run, its
// preconditions at start-up, and the sound cards the user can switch to.
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
// Opens the default device and lists the sound cards.
void StartAudioEngine();
// One item per card (the first 30) in the sound-card pop-up.
void AddSoundCardItems();
// Reopens the engine on card `cardNumber` and reloads the current kit.
void SwitchSoundCard(int32_t commandId, int cardNumber);
// The built-in chime, once, through the system's wave output.
void PlayStartupSound();
