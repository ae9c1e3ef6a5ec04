// libFuzzer entry for the FLAC decoder: every input gives a decoder of
// what is there or none, whatever its header states.
#include "byte_source.h"
#include "decoder_checks.h"
#include "flac_decoder.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (auto d = OpenFlac(MemorySource(std::vector<uint8_t>(data, data + size))))
        CheckDecoder(*d);
    return 0;
}
