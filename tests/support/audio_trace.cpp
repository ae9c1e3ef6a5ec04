#include "tests/support/audio_trace.h"

#include "tests/support/files.h"

#include <windows.h>

#include <regex>
#include <cstdlib>
#include <sstream>

namespace {

std::string TraceFilePath;

} // namespace

TraceCall ParseTraceCall(const std::string& line)
{
    // The arguments end at the first ")" outside quotes and outside a pair
    // of parentheses: what follows (the result, the library's notes) may
    // hold parentheses of its own.
    static const std::regex form(R"re(^(\w+)\(((?:"[^"]*"|\([^()]*\)|[^()"])*)\)(?: \{.*\})?(?: = (\S+))?.*$)re");
    TraceCall call;
    call.line = line;
    std::smatch m;
    if (!std::regex_match(line, m, form))
        return call;
    call.name = m[1];
    call.result = m[3];
    // Arguments split on ", " outside quotes.
    std::string args = m[2], cur;
    bool quoted = false;
    for (size_t i = 0; i < args.size(); i++) {
        char c = args[i];
        if (c == '"')
            quoted = !quoted;
        if (!quoted && c == ',' && i + 1 < args.size() && args[i + 1] == ' ') {
            call.args.push_back(cur);
            cur.clear();
            i++;
            continue;
        }
        cur += c;
    }
    if (!args.empty())
        call.args.push_back(cur);
    return call;
}

void Trace::Start(const std::string& path)
{
    TraceFilePath = path;
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("YXYT_AUDIO_TRACE", path.c_str());
}

namespace {

std::vector<std::string> RawLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace

std::vector<std::string> Trace::Lines()
{
    std::vector<std::string> lines = RawLines(TraceFilePath);
    for (auto& line : lines) {
        // A play call's line ends with when it came (" [at 123.456 ms]"),
        // which the tests of what was called leave out.
        size_t at = line.rfind(" [at ");
        if (at != std::string::npos && line.compare(0, 17, "BASS_ChannelPlay(") == 0)
            line.erase(at);
    }
    return lines;
}

std::vector<double> Trace::PlayTimes(size_t mark, unsigned long channel)
{
    std::vector<double> times;
    std::string call = "BASS_ChannelPlay(" + std::to_string(channel) + ", ";
    std::vector<std::string> lines = RawLines(TraceFilePath);
    for (size_t i = mark; i < lines.size(); i++) {
        size_t at = lines[i].rfind(" [at ");
        if (lines[i].compare(0, call.size(), call) == 0 && at != std::string::npos)
            times.push_back(std::atof(lines[i].c_str() + at + 5));
    }
    return times;
}

size_t Trace::Mark()
{
    return Lines().size();
}

std::vector<std::string> Trace::Since(size_t mark)
{
    std::vector<std::string> lines = Lines();
    if (mark >= lines.size())
        return {};
    return std::vector<std::string>(lines.begin() + mark, lines.end());
}

std::vector<std::string> Trace::Matching(size_t mark, const std::string& prefix)
{
    std::vector<std::string> found;
    for (auto& line : Since(mark))
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

std::vector<TraceCall> Trace::Calls(const std::set<std::string>& only) const
{
    std::vector<TraceCall> calls;
    for (auto& line : Since(mark_)) {
        TraceCall c = ParseTraceCall(line);
        if (only.empty() || only.count(c.name))
            calls.push_back(c);
    }
    return calls;
}

std::string Trace::Dump() const
{
    std::string all;
    for (auto& line : Since(mark_))
        all += line + "\n";
    return all;
}
