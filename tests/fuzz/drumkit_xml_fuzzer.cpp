// libFuzzer entry for drumkit.xml: any text gives a kit that holds the
// kit invariants, or a refusal with its reason.
#include "drumpad/hydrogen_kit.h"
#include "kit_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    HydrogenKitResult r = ReadHydrogenKit(std::string((const char*)data, size));
    if (!r.ok && r.error.empty())
        std::abort();
    if (r.ok)
        CheckKit(r.kit);
    return 0;
}
