#pragma once
// Kit volume steps of 0.05 from the menu and Page Up / Page Down.

// 1 = louder, 0 = softer; any other value only stores and clamps.
void ChangeKitVolume(int direction);
