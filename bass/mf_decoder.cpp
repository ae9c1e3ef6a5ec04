#include "mf_decoder.h"

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <algorithm>
#include <string>
#include <vector>

#include "wav.h"

namespace {

constexpr DWORD kAudio = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);
constexpr double kUnitsPerSecond = 1e7; // Media Foundation times are in 100 ns

// Media Foundation is loaded at run time, not imported: bass.dll must load
// on systems without it (Windows N editions), where it just decodes less.
struct MfApi {
    decltype(&MFStartup) startup = nullptr;
    decltype(&MFShutdown) shutdown = nullptr;
    decltype(&MFCreateMediaType) createMediaType = nullptr;
    decltype(&MFCreateSourceReaderFromURL) createSourceReaderFromUrl = nullptr;
};

// From the system folder only: on Windows editions without Media
// Foundation an mfplat.dll in the program's or the current folder (where
// the music came from) would otherwise run inside an elevated program.
HMODULE LoadSystemDll(const char* name)
{
    if (HMODULE dll = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return dll;
    if (GetLastError() != ERROR_INVALID_PARAMETER)
        return nullptr;
    // Windows 7 without the update that knows the flag: by full path.
    char folder[MAX_PATH];
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    return LoadLibraryExA((std::string(folder, n) + "\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

const MfApi* LoadMf()
{
    static const MfApi api = [] {
        MfApi a;
        HMODULE plat = LoadSystemDll("mfplat.dll");
        HMODULE rw = LoadSystemDll("mfreadwrite.dll");
        if (!plat || !rw)
            return a;
        a.startup = reinterpret_cast<decltype(a.startup)>(GetProcAddress(plat, "MFStartup"));
        a.shutdown = reinterpret_cast<decltype(a.shutdown)>(GetProcAddress(plat, "MFShutdown"));
        a.createMediaType = reinterpret_cast<decltype(a.createMediaType)>(GetProcAddress(plat, "MFCreateMediaType"));
        a.createSourceReaderFromUrl =
            reinterpret_cast<decltype(a.createSourceReaderFromUrl)>(GetProcAddress(rw, "MFCreateSourceReaderFromURL"));
        return a;
    }();
    const bool complete = api.startup && api.shutdown && api.createMediaType && api.createSourceReaderFromUrl;
    return complete ? &api : nullptr;
}

// COM for the Media Foundation calls of one decoder method, on the thread
// that makes them (the caller's to open, the feeder's to read), left again
// afterwards: the opening thread is the program's window thread, whose
// apartment is the program's to choose (its file dialog and the shell want
// a single-threaded one). Media Foundation's own threads keep the
// multithreaded apartment alive in between; a thread that already has an
// apartment keeps it, and the reader's objects are free-threaded.
class ComScope {
public:
    ComScope() : joined_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(joined_))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT joined_;
};

template <typename T>
void Release(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

class MfDecoder : public Decoder {
public:
    ~MfDecoder() override
    {
        ComScope com;
        Release(reader_);
        if (started_)
            mf_->shutdown();
    }

    bool Open(const char* path)
    {
        mf_ = LoadMf();
        if (!mf_)
            return false;
        ComScope com;
        if (FAILED(mf_->startup(MF_VERSION, MFSTARTUP_NOSOCKET)))
            return false;
        started_ = true;
        const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
        if (n <= 0)
            return false;
        std::vector<wchar_t> wide(n);
        MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), n);
        if (FAILED(mf_->createSourceReaderFromUrl(wide.data(), nullptr, &reader_)))
            return false;
        reader_->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
        if (FAILED(reader_->SetStreamSelection(kAudio, TRUE)))
            return false;

        IMFMediaType* want = nullptr;
        if (FAILED(mf_->createMediaType(&want)))
            return false;
        want->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
        want->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
        want->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
        HRESULT hr = reader_->SetCurrentMediaType(kAudio, nullptr, want);
        Release(want);
        if (FAILED(hr))
            return false;
        IMFMediaType* got = nullptr;
        if (FAILED(reader_->GetCurrentMediaType(kAudio, &got)))
            return false;
        UINT32 bits = 0, mask = 0;
        got->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &channels_);
        got->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &rate_);
        got->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &bits);
        if (FAILED(got->GetUINT32(MF_MT_AUDIO_CHANNEL_MASK, &mask)))
            mask = 0;
        Release(got);
        if (bits != 16 || channels_ == 0 || channels_ > kWavMaxChannels || rate_ < kWavMinRate || rate_ > kWavMaxRate)
            return false;
        WavFormat layout;
        layout.channels = static_cast<uint16_t>(channels_);
        layout.channelMask = mask;
        WavStereoGains(layout, gains_);

        PROPVARIANT duration;
        PropVariantInit(&duration);
        if (FAILED(reader_->GetPresentationAttribute(static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE), MF_PD_DURATION,
                                                     &duration)))
            return false;
        length_ = static_cast<uint64_t>(duration.uhVal.QuadPart / kUnitsPerSecond * rate_ + 0.5);
        PropVariantClear(&duration);
        return length_ > 0;
    }

    uint32_t SampleRate() const override { return rate_; }
    uint32_t FileChannels() const override { return channels_; }
    uint64_t LengthFrames() const override { return length_; }

    size_t Read(float* stereo, size_t frames) override
    {
        size_t done = 0;
        while (done < frames && position_ < length_) {
            if (pcmRead_ == pcm_.size() / channels_) {
                if (!DecodeMore())
                    break;
                continue;
            }
            size_t n = std::min({pcm_.size() / channels_ - pcmRead_, frames - done, size_t(length_ - position_)});
            const int16_t* p = pcm_.data() + pcmRead_ * channels_;
            float* out = stereo + 2 * done;
            for (size_t i = 0; i < n; ++i, p += channels_, out += 2) {
                if (channels_ <= 2) {
                    out[0] = p[0] * (1.0f / 32768);
                    out[1] = p[channels_ - 1] * (1.0f / 32768);
                    continue;
                }
                float l = 0, r = 0;
                for (uint32_t c = 0; c < channels_; ++c) {
                    l += p[c] * gains_[c][0];
                    r += p[c] * gains_[c][1];
                }
                out[0] = l * (1.0f / 32768);
                out[1] = r * (1.0f / 32768);
            }
            pcmRead_ += n;
            done += n;
            position_ += n;
        }
        return done;
    }

    bool Seek(uint64_t frame) override
    {
        if (frame >= length_)
            return false;
        ComScope com;
        PROPVARIANT at;
        PropVariantInit(&at);
        at.vt = VT_I8;
        at.hVal.QuadPart = static_cast<LONGLONG>(frame * kUnitsPerSecond / rate_);
        const HRESULT hr = reader_->SetCurrentPosition(GUID_NULL, at);
        if (FAILED(hr))
            return false;
        pcm_.clear();
        pcmRead_ = 0;
        ended_ = false;
        position_ = frame;
        seeking_ = true;
        return true;
    }

private:
    // Takes the next decoded buffer; false at the end or on an error.
    bool DecodeMore()
    {
        ComScope com;
        pcm_.clear();
        pcmRead_ = 0;
        while (pcm_.empty() && !ended_) {
            DWORD flags = 0;
            LONGLONG time = 0;
            IMFSample* sample = nullptr;
            if (FAILED(reader_->ReadSample(kAudio, 0, nullptr, &flags, &time, &sample)) ||
                (flags & (MF_SOURCE_READERF_ENDOFSTREAM | MF_SOURCE_READERF_ERROR))) {
                ended_ = true;
                Release(sample);
                break;
            }
            if (!sample)
                continue;
            IMFMediaBuffer* buffer = nullptr;
            if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer))) {
                BYTE* bytes = nullptr;
                DWORD size = 0;
                if (SUCCEEDED(buffer->Lock(&bytes, nullptr, &size))) {
                    const int16_t* p = reinterpret_cast<const int16_t*>(bytes);
                    pcm_.assign(p, p + size / 2 / channels_ * channels_);
                    buffer->Unlock();
                }
                Release(buffer);
            }
            Release(sample);
            if (seeking_ && !pcm_.empty()) {
                // The reader restarts at a point at or before the one asked
                // for; its time stamp says how much to drop.
                seeking_ = false;
                const int64_t start = static_cast<int64_t>(time / kUnitsPerSecond * rate_ + 0.5);
                const int64_t skip = static_cast<int64_t>(position_) - start;
                if (skip > 0)
                    pcmRead_ = std::min<size_t>(static_cast<size_t>(skip), pcm_.size() / channels_);
                if (pcmRead_ == pcm_.size() / channels_)
                    pcm_.clear();
            }
        }
        return !pcm_.empty();
    }

    const MfApi* mf_ = nullptr;
    IMFSourceReader* reader_ = nullptr;
    bool started_ = false;
    UINT32 channels_ = 0, rate_ = 0;
    float gains_[kWavMaxChannels][2];
    uint64_t length_ = 0;
    std::vector<int16_t> pcm_; // decoded, interleaved at the file's channels
    size_t pcmRead_ = 0;       // frames of pcm_ already read
    uint64_t position_ = 0;
    bool ended_ = false;
    bool seeking_ = false; // the next buffer is the first after a seek
};

} // namespace

std::unique_ptr<Decoder> OpenMf(const char* path)
{
    auto decoder = std::make_unique<MfDecoder>();
    if (!path || !decoder->Open(path))
        return nullptr;
    return decoder;
}
