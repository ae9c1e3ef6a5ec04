#pragma once
// Output devices as the program numbers them: n = 1..N is the n-th wave
// output device, mapped to the WASAPI endpoint behind it.
#include <windows.h>

#include <string>

int DeviceCount();
// The endpoint id of device n (1..N); false for an unknown number.
bool DeviceEndpoint(int device, std::wstring* endpoint);
// Name (ANSI, kept for the life of the process), driver text and flags.
bool DeviceDescribe(int device, const char** name, const char** driver, DWORD* flags);
