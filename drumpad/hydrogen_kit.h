#pragma once
// Hydrogen's drumkit.xml as our kit model. hydrogen_xml.cpp turns the
// XML parser's document into the small element tree below, and nothing
// else knows the parser; hydrogen_kit.cpp holds Hydrogen's rules.
#include "drumpad/kit_model.h"

#include <string>
#include <vector>

// Beyond this a drumkit.xml is no kit a person made; it is not parsed.
constexpr size_t kMaxDrumkitXmlBytes = 8 * 1024 * 1024;

// An element of the document: its name without a namespace prefix, its
// text, and its child elements (those deeper than a kit's elements go
// are left out).
struct XmlElement {
    std::string name;
    std::string text;
    std::vector<XmlElement> children;
    // The first child named `name`; null when there is none.
    const XmlElement* Child(const char* name) const;
};

struct HydrogenKitResult {
    bool ok = false;
    // Why the file is no kit: the parser's message and where, or the root.
    std::string error;
    KitModel kit;
};

// drumkit.xml's text as an element tree. Refuses a file past
// kMaxDrumkitXmlBytes, one that is not well-formed, and a root that is
// not <drumkit_info> or lies in another namespace than Hydrogen's. A
// file without an XML declaration was written by TinyXML, which escaped
// each byte of a UTF-8 character on its own ("&#xC3;&#xA9;"): those are
// read back as the bytes.
bool ReadDrumkitXml(const std::string& text, XmlElement* root, std::string* error);

// The kit the element tree describes, by Hydrogen's rules: per
// instrument id, name, volume, gain, isMuted, pan (<pan> -1..1, else
// pan_L/pan_R), muteGroup, midiOutNote (absent: 36 + id), applyVelocity,
// sampleSelectionAlgo (the component's before the instrument's), isHihat
// with lower_cc/higher_cc, and the layers of each <instrumentComponent>;
// kits older than 0.9.7 hold their layers, or a lone <filename>, directly
// in the instrument. Numbers that are not numbers keep their default,
// others are held to their range.
KitModel HydrogenKitOfTree(const XmlElement& root);

// Both steps on drumkit.xml's text.
HydrogenKitResult ReadHydrogenKit(const std::string& text);
