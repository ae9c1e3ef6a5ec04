#pragma once
// What a Hydrogen or SFZ kit says, as our data: its instruments, each
// instrument's layers (Hydrogen layers, SFZ regions), what a hit silences
// and how a velocity becomes a gain. Without windows.h; the readers fill
// it, the play table and the choke data are computed from it at load.
//
// Words: an instrument is what one letter or one MIDI note plays (a
// Hydrogen instrument, an SFZ key); a layer is one sample file of it with
// the conditions under which it sounds; a hit of an instrument sounds one
// layer of each Hydrogen component, or every SFZ region that matches.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// How the texts of a kit (names, sample paths) are coded: XML is UTF-8;
// an SFZ file that is not valid UTF-8 is taken as the system's code page.
enum class TextCoding { Utf8, Ansi };

// How one layer of a Hydrogen component is chosen among those whose
// velocity range holds the hit's: the first, in turn, or at random.
enum class LayerChoice { Velocity, RoundRobin, Random };

// How a hit's velocity (1..127) scales its gain.
struct VelocityRule {
    enum Kind {
        Constant, // Hydrogen without applyVelocity
        Linear,   // Hydrogen applyVelocity: velocity / 127
        Curve,    // SFZ amp_veltrack and amp_velcurve_N
        LetterKit // a letter kit: 100 plays 1.0, 40 plays the soft note's 0.316
    } kind = Constant;
    // SFZ amp_veltrack as a fraction, -1..1.
    float track = 1.0f;
    // SFZ amp_velcurve_N points (velocity, gain 0..1), velocity ascending;
    // empty: the square curve.
    std::vector<std::pair<uint8_t, float>> points;
    bool operator==(const VelocityRule& o) const
    {
        return kind == o.kind && track == o.track && points == o.points;
    }
};
// The gain `rule` gives velocity 0..127 (clamped), 0..1.
float VelocityGain(const VelocityRule& rule, int velocity);

// No choke group: the Hydrogen muteGroup -1, an SFZ region without off_by.
constexpr int64_t kNoChokeGroup = INT64_MIN;

struct KitLayer {
    uint32_t sample = 0; // index into KitModel::samples
    // Hydrogen: the instrument's component the layer belongs to; one layer
    // of each component sounds. SFZ: 0, every matching region sounds.
    uint32_t component = 0;
    LayerChoice choice = LayerChoice::Velocity;
    // Velocity range as velocity / 127, both ends included.
    double velocityLow = 0.0, velocityHigh = 1.0;
    // SFZ lorand/hirand: the layer sounds when lo <= r < hi for a random
    // r in [0, 1).
    double randomLow = 0.0, randomHigh = 1.0;
    // SFZ seq_length/seq_position: sounds on hit n (from 0) of its
    // instrument when n % length == position - 1.
    int sequenceLength = 1, sequencePosition = 1;
    float gain = 1.0f; // amplitude, every factor but the velocity's
    float pan = 0.0f;  // -1 left .. 1 right
    uint32_t velocityRule = 0; // index into KitModel::velocityRules
    // A hit of this layer belongs to chokeGroup; a hit of group offBy
    // silences it (kNoChokeGroup: nothing does), over chokeFadeMs.
    int64_t chokeGroup = kNoChokeGroup;
    int64_t offBy = kNoChokeGroup;
    float chokeFadeMs = 5.0f;
    // The hi-hat's openness zone (MIDI controller 4): sounds while the
    // pedal's value lies in [pedalLow, pedalHigh].
    uint8_t pedalLow = 0, pedalHigh = 127;
    // Plays to its end whatever the note's length (SFZ loop_mode=one_shot;
    // drum samples always are in Hydrogen).
    bool oneShot = true;
};

struct KitInstrument {
    std::string name;
    int note = 36; // General MIDI note, 0..127
    float gain = 1.0f;
    float pan = 0.0f;
    bool muted = false;
    std::vector<KitLayer> layers;
};

struct KitModel {
    enum class Kind { Hydrogen, Sfz } kind = Kind::Hydrogen;
    TextCoding coding = TextCoding::Utf8;
    std::string name;
    // Sample files relative to the kit folder, "/"-separated, each once.
    std::vector<std::string> samples;
    std::vector<KitInstrument> instruments;
    std::vector<VelocityRule> velocityRules;
    // The hi-hat pedal's value before any controller message (SFZ set_cc4).
    uint8_t pedal = 0;
    // Names refused: samples and SFZ includes that would leave the kit
    // folder, includes that repeat, lie too deep or cannot be read.
    std::vector<std::string> refused;
    // SFZ opcodes and headers the reader does not act on, each once.
    std::vector<std::string> unknownOpcodes;
};

// The index of `sample` in model.samples, appended when new.
uint32_t AddSample(KitModel& model, const std::string& sample);
// The index of `rule` in model.velocityRules, appended when new.
uint32_t AddVelocityRule(KitModel& model, const VelocityRule& rule);

// `name` (written with "/" or "\") joined to the kit-relative folder
// `base`, "." and ".." resolved: the "/"-separated path inside the kit
// folder, or empty when it is absolute, has a drive or a stream (":"),
// climbs above the kit folder, names a device (CON, NUL, COM1 ...), has a
// part ending in "." or " " (which Windows drops) or a character no file
// name may hold. Ansi texts are walked as GBK, whose trail bytes may
// equal "\".
std::string KitRelativePath(const std::string& base, const std::string& name, TextCoding coding);
// Whether `name` is a file name without folders: not empty, no control
// character and none of \ / : * ? " < > |.
bool HasOnlyFileNameCharacters(const std::string& name, TextCoding coding);
// Whether `text` is well-formed UTF-8.
bool IsUtf8(const std::string& text);

// A kit's number: decimal, spaces around it allowed, nothing after it;
// false for anything else, NaN and infinities included.
bool ParseKitNumber(const std::string& text, double* value);
// A whole number the same way, within int64_t.
bool ParseKitInteger(const std::string& text, int64_t* value);

// Amplitude gains of the left and right channel for pan -1..1, the
// straight-polygonal law: the far side falls, the near side stays at 1.
std::array<float, 2> PanGains(float pan);
// An instrument's pan and a layer's within it: the layer moves the sound
// inside the room the instrument's pan leaves.
float CombinedPan(float instrumentPan, float layerPan);

// The layers a hit of `instrument` silences: every layer of the other
// instruments whose offBy is the chokeGroup of one of its layers. A hit
// never silences its own instrument: its repeats follow the ring-over
// option, as a letter's do.
struct ChokedLayer {
    uint32_t instrument;
    uint32_t layer;
};
std::vector<ChokedLayer> ChokedLayers(const KitModel& model, uint32_t instrument);
