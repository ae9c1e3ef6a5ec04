#pragma once
// A Standard MIDI File of one track (format 0), written from events in
// ticks. Pure: no platform code.
#include <cstdint>
#include <vector>

enum class SmfKind : uint8_t { kTempo, kTimeSignature, kNoteOff, kNoteOn };

struct SmfEvent {
    uint32_t tick;
    SmfKind kind;
    // Tempo: microseconds per quarter note (24 bits). Time signature:
    // beats of a quarter note each. Notes: the key.
    uint32_t value;
    uint8_t velocity; // note on only
};

constexpr uint8_t kSmfDrumChannel = 9; // channel 10, counted from 0

// The file's bytes: header with `ppq` ticks a quarter note, then the
// events in tick order (at one tick: tempo and time signature, then the
// notes that end, then those that start), on the drum channel, without
// running status, and the end of the track.
std::vector<uint8_t> SmfFormat0(uint16_t ppq, std::vector<SmfEvent> events);
