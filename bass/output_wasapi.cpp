// Event-driven WASAPI output at the smallest period the device allows:
// shared, in the device's own mix format, or, when the program asks,
// exclusive in a stereo format the device takes at its mix rate, with a
// fall back to shared when the device refuses.
#include <initguid.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <atomic>

#include "bass/exclusive.h"
#include "bass/mixer.h"
#include "bass/output.h"
#include "bass/trace.h"

namespace {

// The buffer the first stream asks for, in 100-ns units: music alone keeps
// it full, riding out the stalls of a loaded machine (up to 125 ms seen under
// Wine with both cores busy).
constexpr REFERENCE_TIME kDeepBuffer = 2000000;

std::atomic<bool> ExclusiveWanted{false};
std::atomic<HRESULT> ExclusiveSeam{S_OK};

template <class T>
void Release(T*& p)
{
    if (p)
        p->Release();
    p = nullptr;
}

// A failed step of the set-up names itself and its code in the trace.
bool Failed(HRESULT hr, const char* step)
{
    if (SUCCEEDED(hr))
        return false;
    TraceFailure("wasapi", step, hr);
    return true;
}

WAVEFORMATEXTENSIBLE StereoFormat(DWORD rate, WORD bits, WORD validBits, bool isFloat)
{
    WAVEFORMATEXTENSIBLE f = {};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = 2;
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = (WORD)(2 * bits / 8);
    f.Format.nAvgBytesPerSec = rate * f.Format.nBlockAlign;
    f.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    f.Samples.wValidBitsPerSample = validBits;
    f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    f.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    return f;
}

// One stream on the device. The output has two: the first plays
// everything and may be exclusive; the second, always shared, the hits.
struct WasapiStream {
    explicit WasapiStream(bool mayBeExclusive) : mayBeExclusive(mayBeExclusive) {}
    const bool mayBeExclusive;
    IMMDevice* Device = nullptr;
    IAudioClient* Client = nullptr;
    IAudioRenderClient* Render = nullptr;
    HANDLE DeviceEvent = nullptr;
    HANDLE CloseEvent = nullptr;
    OutputFormat* Format = nullptr;
    WORD Channels = 2;
    enum class SampleType { Float32, Pcm16, Pcm24, Pcm32 } Type = SampleType::Float32;
    // Written by an open on the mixer thread; read once OutputOpen has returned.
    ExclusiveOutcome Outcome;

    bool ReadFormat(const WAVEFORMATEX* wfx)
    {
        Channels = wfx->nChannels;
        bool isFloat = wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
        bool isPcm = wfx->wFormatTag == WAVE_FORMAT_PCM;
        if (wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
            auto ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx);
            isFloat = IsEqualGUID(ext->SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
            isPcm = IsEqualGUID(ext->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
        }
        if (isFloat && wfx->wBitsPerSample == 32)
            Type = SampleType::Float32;
        else if (isPcm && wfx->wBitsPerSample == 16)
            Type = SampleType::Pcm16;
        else if (isPcm && wfx->wBitsPerSample == 24)
            Type = SampleType::Pcm24;
        else if (isPcm && wfx->wBitsPerSample == 32)
            Type = SampleType::Pcm32;
        else
            return false;
        return Channels >= 1;
    }

    // IAudioClient3 gives periods below the classic minimum where the engine
    // supports them; otherwise the minimum of GetDevicePeriod.
    HRESULT InitializeClient(WAVEFORMATEX* wfx)
    {
        IAudioClient3* client3 = nullptr;
        if (SUCCEEDED(Client->QueryInterface(__uuidof(IAudioClient3), (void**)&client3))) {
            UINT32 def = 0, fundamental = 0, minimum = 0, maximum = 0;
            HRESULT hr = client3->GetSharedModeEnginePeriod(wfx, &def, &fundamental, &minimum, &maximum);
            if (SUCCEEDED(hr) && minimum)
                hr = client3->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK, minimum, wfx, nullptr);
            client3->Release();
            if (SUCCEEDED(hr) && minimum) {
                Format->periodFrames = minimum;
                Format->api = "IAudioClient3";
                Format->shortPeriods = true;
                return hr;
            }
        }
        // Without IAudioClient3 a shared stream runs at the engine's default
        // period whatever we ask; the smallest buffer is asked for and read back.
        // The first stream asks for a deep buffer too, which it fills only
        // while it plays music alone: its period stays the engine's.
        REFERENCE_TIME defPeriod = 0, minPeriod = 0;
        Client->GetDevicePeriod(&defPeriod, &minPeriod);
        const REFERENCE_TIME deep = mayBeExclusive ? kDeepBuffer : minPeriod;
        HRESULT hr = E_FAIL;
        for (REFERENCE_TIME duration : {deep, minPeriod, defPeriod, (REFERENCE_TIME)0}) {
            hr = Client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, 0, wfx,
                                    nullptr);
            if (SUCCEEDED(hr)) {
                Format->periodFrames = (uint32_t)((defPeriod * wfx->nSamplesPerSec + 5000000) / 10000000);
                Format->api = "IAudioClient";
                return hr;
            }
        }
        return hr;
    }

    // The first stereo format at the mix rate that the device takes for itself,
    // best first; else the most telling refusal: a busy or locked device says
    // more than a format it does not take.
    HRESULT PickExclusiveFormat(DWORD rate, WAVEFORMATEXTENSIBLE* chosen)
    {
        const struct {
            WORD bits, validBits;
            bool isFloat;
        } kinds[] = {{32, 32, true}, {32, 32, false}, {32, 24, false}, {24, 24, false}, {16, 16, false}};
        HRESULT refusal = AUDCLNT_E_UNSUPPORTED_FORMAT;
        for (const auto& kind : kinds) {
            *chosen = StereoFormat(rate, kind.bits, kind.validBits, kind.isFloat);
            HRESULT hr = ExclusiveSeam.load();
            if (hr == S_OK)
                hr = Client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &chosen->Format, nullptr);
            if (hr == S_OK)
                return S_OK;
            if (FAILED(hr) && hr != AUDCLNT_E_UNSUPPORTED_FORMAT)
                refusal = hr;
        }
        TraceFailure("wasapi", "IAudioClient::IsFormatSupported(exclusive)", refusal);
        return refusal;
    }

    // The device's own stream at its minimum period, one buffer of one period.
    // A period the device cannot align is replaced by the aligned size it gives
    // back, on a new client, as the documentation of Initialize says.
    HRESULT InitializeExclusive(DWORD rate, WAVEFORMATEXTENSIBLE* chosen)
    {
        HRESULT hr = PickExclusiveFormat(rate, chosen);
        if (FAILED(hr))
            return hr;
        REFERENCE_TIME defPeriod = 0, minPeriod = 0;
        Client->GetDevicePeriod(&defPeriod, &minPeriod);
        hr = ExclusiveSeam.load();
        if (hr == S_OK)
            hr = Client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, minPeriod,
                                    minPeriod, &chosen->Format, nullptr);
        if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
            UINT32 aligned = 0;
            if (Failed(Client->GetBufferSize(&aligned), "IAudioClient::GetBufferSize(unaligned)"))
                return hr;
            minPeriod = (REFERENCE_TIME)(10000000.0 * aligned / rate + 0.5);
            Release(Client);
            hr = Device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, (void**)&Client);
            if (SUCCEEDED(hr))
                hr = Client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, minPeriod,
                                        minPeriod, &chosen->Format, nullptr);
        }
        if (FAILED(hr))
            TraceFailure("wasapi", "IAudioClient::Initialize(exclusive)", hr);
        return hr;
    }

    // The device's client: the default endpoint's, or the named one's.
    bool ActivateEndpoint(const std::wstring& endpoint)
    {
        IMMDeviceEnumerator* enumerator = nullptr;
        const bool ok = !Failed(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                                 __uuidof(IMMDeviceEnumerator), (void**)&enumerator),
                                "CoCreateInstance(MMDeviceEnumerator)") &&
                        !(endpoint.empty() ? Failed(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &Device),
                                                    "IMMDeviceEnumerator::GetDefaultAudioEndpoint")
                                           : Failed(enumerator->GetDevice(endpoint.c_str(), &Device),
                                                    "IMMDeviceEnumerator::GetDevice")) &&
                        !Failed(Device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, (void**)&Client),
                                "IMMDevice::Activate(IAudioClient)");
        if (enumerator)
            enumerator->Release();
        return ok;
    }

    // The engine's mix format: a shared stream plays in it, an exclusive
    // one at its rate. The caller frees `wfx`.
    bool ReadMixFormat(WAVEFORMATEX** wfx)
    {
        if (Failed(Client->GetMixFormat(wfx), "IAudioClient::GetMixFormat"))
            return false;
        if (!ReadFormat(*wfx)) {
            TraceLine("wasapi: mix format not playable: tag 0x%04X, %u bits, %u channels", (*wfx)->wFormatTag,
                      (*wfx)->wBitsPerSample, (*wfx)->nChannels);
            return false;
        }
        Format->rate = (*wfx)->nSamplesPerSec;
        Format->channels = (*wfx)->nChannels;
        return true;
    }

    // Exclusive where asked and granted; refused, shared as without the
    // wish, on a client that has not been initialised.
    bool InitializeStream(WAVEFORMATEX* wfx)
    {
        if (Outcome.asked) {
            WAVEFORMATEXTENSIBLE chosen;
            HRESULT hr = InitializeExclusive(wfx->nSamplesPerSec, &chosen);
            Outcome.refusal = SUCCEEDED(hr) ? S_OK : hr;
            if (SUCCEEDED(hr)) {
                ReadFormat(&chosen.Format);
                Format->channels = chosen.Format.nChannels;
                Outcome.granted = true;
                return true;
            }
            Release(Client);
            if (Failed(Device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, (void**)&Client),
                       "IMMDevice::Activate(IAudioClient)"))
                return false;
        }
        return !Failed(InitializeClient(wfx), "IAudioClient::Initialize");
    }

    // The buffer and latency the stream really got.
    bool ReadBackBuffer()
    {
        UINT32 bufferFrames = 0;
        REFERENCE_TIME latency = 0;
        if (Failed(Client->GetBufferSize(&bufferFrames), "IAudioClient::GetBufferSize"))
            return false;
        if (!bufferFrames) {
            TraceLine("wasapi: IAudioClient::GetBufferSize gave 0 frames");
            return false;
        }
        Client->GetStreamLatency(&latency);
        Format->bufferFrames = bufferFrames;
        Format->latencyMs = latency / 10000.0;
        Format->canIdle = true;
        if (Outcome.granted) {
            // One buffer of one period, written whole at each wake-up.
            Format->periodFrames = bufferFrames;
            Format->wholeBuffers = true;
            Format->api = "exclusive";
        }
        return true;
    }

    // The device's wake-ups as an event, and the service that writes.
    bool ConnectRendering()
    {
        DeviceEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!DeviceEvent) {
            TraceFailure("wasapi", "CreateEvent", HRESULT_FROM_WIN32(GetLastError()));
            return false;
        }
        return !Failed(Client->SetEventHandle(DeviceEvent), "IAudioClient::SetEventHandle") &&
               !Failed(Client->GetService(__uuidof(IAudioRenderClient), (void**)&Render),
                       "IAudioClient::GetService(IAudioRenderClient)");
    }

    bool WasapiOpen(const std::wstring& endpoint, HANDLE closeEvent, OutputFormat* format)
    {
        Format = format;
        CloseEvent = closeEvent;
        // Until the device says why, a wish not met is an unknown failure.
        Outcome = ExclusiveOutcome();
        Outcome.asked = mayBeExclusive && ExclusiveWanted.load();
        Outcome.refusal = Outcome.asked ? E_FAIL : S_OK;
        WAVEFORMATEX* wfx = nullptr;
        const bool ok = ActivateEndpoint(endpoint) && ReadMixFormat(&wfx) && InitializeStream(wfx) &&
                        ReadBackBuffer() && ConnectRendering();
        if (wfx)
            CoTaskMemFree(wfx);
        if (!ok)
            WasapiClose();
        return ok;
    }

    bool WasapiStart() { return !Failed(Client->Start(), "IAudioClient::Start"); }

    // A shared stream cannot take back what it has queued, but a halted and
    // reset one starts again from an empty buffer and the engine's own queue
    // at nothing: a hit is then heard as soon as a fresh stream's would be.
    // Halting a stream that never started only says so.
    uint32_t WasapiIdle()
    {
        UINT32 padding = 0;
        Failed(Client->Stop(), "IAudioClient::Stop");
        Client->GetCurrentPadding(&padding);
        if (Failed(Client->Reset(), "IAudioClient::Reset"))
            return 0;
        return padding;
    }

    void WasapiClose()
    {
        // Only a stream opened whole may have been started.
        if (Render)
            Client->Stop();
        Release(Render);
        Release(Client);
        Release(Device);
        if (DeviceEvent)
            CloseHandle(DeviceEvent);
        DeviceEvent = nullptr;
    }

    uint32_t WasapiWait(DWORD timeoutMs, uint32_t* queued)
    {
        DWORD r = WAIT_OBJECT_0 + 1;
        if (timeoutMs) {
            HANDLE events[2] = {CloseEvent, DeviceEvent};
            r = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
            if (r == WAIT_OBJECT_0)
                return 0;
        }
        // An exclusive stream's padding tells nothing: each wake-up takes a
        // whole buffer while the other one plays (none before the start).
        if (Outcome.granted) {
            if (r != WAIT_OBJECT_0 + 1)
                return 0;
            *queued = timeoutMs ? Format->bufferFrames : 0;
            return Format->bufferFrames;
        }
        UINT32 padding = 0;
        if (FAILED(Client->GetCurrentPadding(&padding)))
            return 0;
        *queued = padding;
        return padding < Format->bufferFrames ? Format->bufferFrames - padding : 0;
    }

    bool WasapiWrite(const float* stereo, uint32_t frames)
    {
        BYTE* data = nullptr;
        if (FAILED(Render->GetBuffer(frames, &data)))
            return false;
        for (uint32_t i = 0; i < frames; i++) {
            for (WORD c = 0; c < Channels; c++) {
                float v = DeviceSample(stereo, i, c, Channels);
                size_t k = (size_t)i * Channels + c;
                switch (Type) {
                case SampleType::Float32:
                    reinterpret_cast<float*>(data)[k] = v;
                    break;
                case SampleType::Pcm16:
                    reinterpret_cast<int16_t*>(data)[k] = Pcm16(v);
                    break;
                case SampleType::Pcm24: {
                    int32_t s = (int32_t)(v * 8388607.0f);
                    data[3 * k] = (BYTE)s;
                    data[3 * k + 1] = (BYTE)(s >> 8);
                    data[3 * k + 2] = (BYTE)(s >> 16);
                    break;
                }
                case SampleType::Pcm32:
                    reinterpret_cast<int32_t*>(data)[k] = (int32_t)(v * 2147483520.0f);
                    break;
                }
            }
        }
        return SUCCEEDED(Render->ReleaseBuffer(frames, 0));
    }
};

// The first stream plays everything and may be exclusive; the second the hits.
WasapiStream Streams[2] = {WasapiStream(true), WasapiStream(false)};

WasapiStream& Of(void* self)
{
    return *static_cast<WasapiStream*>(self);
}
bool Open(void* self, const std::wstring& endpoint, UINT, HANDLE closeEvent, OutputFormat* format)
{
    return Of(self).WasapiOpen(endpoint, closeEvent, format);
}
bool Start(void* self)
{
    return Of(self).WasapiStart();
}
void Close(void* self)
{
    Of(self).WasapiClose();
}
uint32_t Wait(void* self, DWORD timeoutMs, uint32_t* queued)
{
    return Of(self).WasapiWait(timeoutMs, queued);
}
bool Write(void* self, const float* stereo, uint32_t frames)
{
    return Of(self).WasapiWrite(stereo, frames);
}
uint32_t Idle(void* self)
{
    return Of(self).WasapiIdle();
}

} // namespace

void WasapiAskExclusive(bool on)
{
    ExclusiveWanted.store(on);
}

ExclusiveOutcome WasapiExclusiveOutcome()
{
    return Streams[0].Outcome;
}

void WasapiRefuseExclusive(HRESULT code)
{
    ExclusiveSeam.store(code);
}

const OutputBackend WasapiOutput = {"WASAPI", &Streams[0], Open, Start, Close, Wait, Write, Idle};
const OutputBackend WasapiHitOutput = {"WASAPI", &Streams[1], Open, Start, Close, Wait, Write, Idle};
