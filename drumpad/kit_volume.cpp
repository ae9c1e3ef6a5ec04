#include "drumpad/kit_volume.h"

#include "core/bass_api.h"
#include "core/settings.h"
#include "drumpad/kits.h"

void ChangeKitVolume(VolumeDirection direction)
{
    // Each channel moves from its own volume. The kit samples all start a
    // load at the kit volume, so any of them gives the new kit volume; a kit
    // without a readable sample steps the remembered value instead.
    float kitVolume = (float)SteppedVolume(Kits().KitVolume, direction);
    for (size_t i = 0; i < Kits().SampleTable.size(); i++) {
        float v = 0.0f;
        BOOL read = BASS_ChannelGetAttribute(Kits().SampleTable[i].channel, BASS_ATTRIB_VOL, &v);
        float stepped = (float)SteppedVolume(v, direction);
        BASS_ChannelSetAttribute(Kits().SampleTable[i].channel, BASS_ATTRIB_VOL, stepped);
        bool confirmation = i + 1 == Kits().SampleTable.size();
        if (read && !confirmation)
            kitVolume = stepped;
    }
    Kits().KitVolume = kitVolume;
    WriteFloatSetting(kKitSection, kKitVolumeKey, Kits().KitVolume);

    bool clamped = false;
    float remembered = ClampedKitVolume(Kits().KitVolume, &clamped);
    if (clamped) {
        Kits().KitVolume = remembered;
        WriteFloatSetting(kKitSection, kKitVolumeKey, Kits().KitVolume);
    }
}
