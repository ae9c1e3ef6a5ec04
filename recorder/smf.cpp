#include "recorder/smf.h"

#include <algorithm>

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((uint8_t)(v >> shift));
}

// A variable-length quantity: seven bits a byte, the high bit on all but the last.
void PutVarLen(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = (uint8_t)(v & 0x7f);
        v >>= 7;
    } while (v);
    while (n--)
        out.push_back((uint8_t)(bytes[n] | (n ? 0x80 : 0)));
}

} // namespace

std::vector<uint8_t> SmfFormat0(uint16_t ppq, std::vector<SmfEvent> events)
{
    std::stable_sort(events.begin(), events.end(), [](const SmfEvent& a, const SmfEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.kind < b.kind;
    });
    std::vector<uint8_t> track;
    uint32_t last = 0;
    for (const SmfEvent& e : events) {
        PutVarLen(track, e.tick - last);
        last = e.tick;
        switch (e.kind) {
        case SmfKind::kTempo:
            track.insert(track.end(), {0xff, 0x51, 0x03, (uint8_t)(e.value >> 16), (uint8_t)(e.value >> 8),
                                       (uint8_t)e.value});
            break;
        case SmfKind::kTimeSignature:
            // Quarter notes, 24 clocks a click, 8 thirty-seconds a quarter.
            track.insert(track.end(), {0xff, 0x58, 0x04, (uint8_t)e.value, 2, 24, 8});
            break;
        case SmfKind::kNoteOff:
            track.insert(track.end(), {(uint8_t)(0x80 | kSmfDrumChannel), (uint8_t)(e.value & 0x7f), 0});
            break;
        case SmfKind::kNoteOn:
            track.insert(track.end(),
                         {(uint8_t)(0x90 | kSmfDrumChannel), (uint8_t)(e.value & 0x7f), (uint8_t)(e.velocity & 0x7f)});
            break;
        }
    }
    track.insert(track.end(), {0x00, 0xff, 0x2f, 0x00});

    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, (uint8_t)(ppq >> 8), (uint8_t)ppq};
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    Put32(out, (uint32_t)track.size());
    out.insert(out.end(), track.begin(), track.end());
    return out;
}
