#pragma once
// WAV fixtures: 16-bit 44100 Hz sines at amplitude 12000 of full scale 32767.
#include <string>

// The bytes of a file of `ms` milliseconds; with two channels both carry the tone.
std::string ToneWav(double hz, int ms, int channels = 1);
// A stereo file: 176400 data bytes per second, so a byte position is a time.
void WriteToneWav(const std::string& path, double seconds, double frequency);
