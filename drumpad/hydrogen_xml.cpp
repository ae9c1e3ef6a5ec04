// The XML parser's document as our element tree: the one file that knows
// pugixml.
#include "drumpad/hydrogen_kit.h"

#include <pugixml.hpp>

#include <cctype>
#include <cstring>

namespace {

constexpr const char* kHydrogenNamespace = "http://www.hydrogen-music.org/drumkit";
// <drumkit_info> / <instrumentList> / <instrument> / <instrumentComponent> /
// <layer> / <filename>: nothing of a kit lies deeper.
constexpr int kMaxDepth = 6;
constexpr size_t kMaxElements = 200000;

std::string LocalName(const char* name)
{
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

// The namespace of `e`: the xmlns of its prefix, or the default one, on
// it or the nearest ancestor that declares it.
std::string NamespaceOf(pugi::xml_node e)
{
    std::string name = e.name();
    size_t colon = name.find(':');
    std::string attribute = colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    for (pugi::xml_node n = e; n; n = n.parent())
        if (pugi::xml_attribute a = n.attribute(attribute.c_str()))
            return a.value();
    return "";
}

void Copy(pugi::xml_node from, XmlElement& to, int depth, size_t& count)
{
    to.name = LocalName(from.name());
    to.text = from.text().get();
    if (depth >= kMaxDepth)
        return;
    for (pugi::xml_node c = from.first_child(); c && count < kMaxElements; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        count++;
        to.children.emplace_back();
        Copy(c, to.children.back(), depth + 1, count);
    }
}

bool IsHex(char c)
{
    return std::isxdigit((unsigned char)c) != 0;
}

// TinyXML wrote each byte of a UTF-8 character as "&#xHH;". Only bytes
// past ASCII are put back, so markup cannot appear from an escape.
std::string TinyXmlBytes(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        if (text.compare(i, 3, "&#x") == 0 && i + 5 < text.size() && IsHex(text[i + 3]) && IsHex(text[i + 4]) &&
            text[i + 5] == ';') {
            int byte = std::stoi(text.substr(i + 3, 2), nullptr, 16);
            if (byte >= 0x80) {
                out += (char)byte;
                i += 5;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace

bool ReadDrumkitXml(const std::string& text, XmlElement* root, std::string* error)
{
    if (text.size() > kMaxDrumkitXmlBytes) {
        *error = "drumkit.xml 过大";
        return false;
    }
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    bool tiny = text.compare(start, 5, "<?xml") != 0;
    std::string source = tiny ? TinyXmlBytes(text) : text;
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(source.data(), source.size(), pugi::parse_default);
    if (!parsed) {
        *error = std::string("drumkit.xml: ") + parsed.description() + " @" + std::to_string(parsed.offset);
        return false;
    }
    pugi::xml_node top = doc.document_element();
    if (LocalName(top.name()) != "drumkit_info") {
        *error = "drumkit.xml: 根元素不是 drumkit_info";
        return false;
    }
    std::string space = NamespaceOf(top);
    if (!space.empty() && space != kHydrogenNamespace) {
        *error = "drumkit.xml: 命名空间不是 Hydrogen 的";
        return false;
    }
    size_t count = 0;
    *root = XmlElement();
    Copy(top, *root, 1, count);
    return true;
}

HydrogenKitResult ReadHydrogenKit(const std::string& text)
{
    HydrogenKitResult result;
    XmlElement root;
    result.ok = ReadDrumkitXml(text, &root, &result.error);
    if (result.ok)
        result.kit = HydrogenKitOfTree(root);
    return result;
}
