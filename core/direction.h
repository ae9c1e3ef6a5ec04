#pragma once
// Which way a volume steps. The menu items and keys pass only these two;
// the values are the ones the commands have always carried.
enum VolumeDirection : int { kVolumeDown = 0, kVolumeUp = 1 };
