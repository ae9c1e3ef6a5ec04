#pragma once
// Kit volume steps of 0.05 from the menu and Page Up / Page Down.

#include "core/direction.h"

// A direction other than the two only stores and clamps.
void ChangeKitVolume(VolumeDirection direction);
