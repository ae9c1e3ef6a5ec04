#pragma once
// An SFZ kit as our kit model: the drum subset of the format. <control>
// (default_path, set_cc4, label_keyN), <global> / <master> / <group> /
// <region> with inheritance, #define and #include, and per region sample,
// key / lokey / hikey (numbers or note names, c4 = 60), lovel / hivel,
// seq_length / seq_position, lorand / hirand, group / off_by / off_mode
// (with ampeg_release for normal), volume (dB), pan (-100..100),
// amp_veltrack, amp_velcurve_N, loop_mode, trigger, locc4 / hicc4. Each
// key that a region covers is an instrument, in key order. Anything else
// is ignored and its name kept once in unknownOpcodes.
#include "drumpad/kit_model.h"

#include <string>

// Bounds on what a kit's text may make us read.
constexpr size_t kMaxSfzFileBytes = 4 * 1024 * 1024;
constexpr size_t kMaxSfzTotalBytes = 16 * 1024 * 1024;
constexpr int kMaxSfzIncludeDepth = 8;
constexpr int kMaxSfzIncludes = 256;
constexpr size_t kMaxSfzRegions = 16384;

// Reads a file of the kit by its kit-relative "/"-separated path.
class SfzFiles {
public:
    virtual ~SfzFiles() = default;
    // The file's text; false when there is none.
    virtual bool Read(const std::string& path, std::string* text) = 0;
};

struct SfzKitResult {
    bool ok = false;
    std::string error;
    KitModel kit;
};

// The kit of the .sfz file at kit-relative `path`. Sample paths, the
// default_path and #include are relative to that file's folder and must
// stay inside the kit folder; an include that leaves it, repeats one
// being read, lies deeper than kMaxSfzIncludeDepth or cannot be read is
// left out and named in kit.refused.
SfzKitResult ReadSfzKit(const std::string& path, SfzFiles& files);
