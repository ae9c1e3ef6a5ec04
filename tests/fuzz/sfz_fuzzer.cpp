// libFuzzer entry for SFZ kits. The input is split at "\n#--\n" into the
// kit's files: kit.sfz, then inc/1.sfz, inc/2.sfz ... which the first may
// #include, and those each other, in cycles too.
#include "drumpad/sfz_kit.h"
#include "kit_invariants.h"

#include <map>

namespace {

class SplitFiles : public SfzFiles {
public:
    std::map<std::string, std::string> files;
    bool Read(const std::string& path, std::string* text) override
    {
        auto it = files.find(path);
        if (it == files.end())
            return false;
        *text = it->second;
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string all((const char*)data, size);
    SplitFiles files;
    size_t at = 0;
    for (int n = 0; at <= all.size(); n++) {
        size_t end = all.find("\n#--\n", at);
        std::string name = n == 0 ? "kit.sfz" : "inc/" + std::to_string(n) + ".sfz";
        files.files[name] = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (end == std::string::npos)
            break;
        at = end + 5;
    }
    SfzKitResult r = ReadSfzKit("kit.sfz", files);
    if (!r.ok)
        std::abort(); // kit.sfz is always there and never too large here
    CheckKit(r.kit);
    return 0;
}
