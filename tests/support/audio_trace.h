#pragma once
// The audio library appends one line per call to the file named by
// YXYT_AUDIO_TRACE ("BASS_ChannelPlay(5, 1) = 1"); tests read what was
// added since a mark.
#include <set>
#include <string>
#include <vector>

struct TraceCall {
    std::string name;
    std::vector<std::string> args; // as written: strings keep their quotes
    std::string result;
    std::string line;
};

// A line split into name, arguments and result; only `line` for another form.
TraceCall ParseTraceCall(const std::string& line);

class Trace {
public:
    // Sets the variable and starts an empty file; call before the library's first call.
    static void Start(const std::string& path);
    static std::vector<std::string> Lines();
    static size_t Mark();
    static std::vector<std::string> Since(size_t mark);
    // Lines since mark that begin with `prefix`.
    static std::vector<std::string> Matching(size_t mark, const std::string& prefix);
    // When each play call of `channel` since mark came, in milliseconds of
    // QueryPerformanceCounter.
    static std::vector<double> PlayTimes(size_t mark, unsigned long channel);

    // The calls made since this object was made, only those named in `only` if any.
    Trace() : mark_(Mark()) {}
    std::vector<TraceCall> Calls(const std::set<std::string>& only = {}) const;
    // Every line since the mark, for a failure's message.
    std::string Dump() const;

private:
    size_t mark_;
};
