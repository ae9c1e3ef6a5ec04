// The library's exported functions: argument checks, the trace line, and
// a call into the channel table, the devices or the output.
#include "bass/bass.h"

#include <audioclient.h>

#include <cmath>
#include <mutex>
#include <new>

#include "bass/channels.h"
#include "bass/click.h"
#include "bass/decode_budget.h"
#include "bass/decoder.h"
#include "bass/devices.h"
#include "bass/exclusive.h"
#include "bass/output.h"
#include "bass/recorder.h"
#include "bass/trace.h"

namespace {

std::mutex LifeLock; // serialises BASS_Init and BASS_Free
// The device BASS_Init opened (-1: the default, n: the n-th); 0: none open.
int DeviceInUse = 0;
thread_local int LastError = BASS_OK;
thread_local int FailCode = BASS_ERROR_UNKNOWN; // what a failed body says went wrong

void InvokeSync(void* proc, uint32_t sync, uint32_t channel, void* user)
{
    TraceLine("SYNCPROC(%u, %u, 0, %p)", sync, channel, user);
    reinterpret_cast<SYNCPROC*>(proc)(sync, channel, 0, user);
}

BOOL Traced(BOOL result, const char* format, ...) __attribute__((format(printf, 2, 3)));
BOOL Traced(BOOL result, const char* format, ...)
{
    if (TraceEnabled()) {
        char text[900];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        TraceLine("%s = %d", text, result);
    }
    return result;
}

// Runs the body of every export. A C++ exception must not reach the
// program, which is no C++ of ours and would end: the call fails instead,
// and an allocation failure (a long file in a full 32-bit address space)
// is told apart by its error code.
template <typename Result, typename Body>
Result Guarded(const char* name, Result failure, Body body)
{
    int code = BASS_ERROR_UNKNOWN;
    FailCode = BASS_ERROR_UNKNOWN;
    try {
        Result result = body();
        LastError = result == failure ? FailCode : BASS_OK;
        return result;
    } catch (const std::bad_alloc&) {
        code = BASS_ERROR_MEM;
    } catch (...) {
    }
    LastError = code;
    TraceLine("%s failed: %s", name, code == BASS_ERROR_MEM ? "out of memory" : "internal error");
    return failure;
}

// The reason a wish for exclusive output was not met, by its code.
DWORD ExclusiveReason(const ExclusiveOutcome& outcome)
{
    if (!outcome.asked || outcome.granted)
        return BASS_EXCLUSIVE_HAD;
    switch (outcome.refusal) {
    case AUDCLNT_E_DEVICE_IN_USE:
        return BASS_EXCLUSIVE_BUSY;
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
        return BASS_EXCLUSIVE_FORMAT;
    case AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED:
        return BASS_EXCLUSIVE_NOT_ALLOWED;
    default:
        return BASS_EXCLUSIVE_OTHER;
    }
}

// What the open output is; the caller holds LifeLock with an output open.
BASS_OUTPUTMODE CurrentMode()
{
    const OutputFormat& f = OutputCurrentFormat();
    ExclusiveOutcome outcome = WasapiExclusiveOutcome();
    BASS_OUTPUTMODE mode = {};
    if (OutputBackendName() != WasapiOutput.name)
        mode.mode = BASS_OUTPUT_WAVEOUT;
    else
        mode.mode = outcome.granted ? BASS_OUTPUT_EXCLUSIVE : BASS_OUTPUT_SHARED;
    mode.asked = outcome.asked;
    mode.reason = ExclusiveReason(outcome);
    mode.code = mode.reason == BASS_EXCLUSIVE_HAD ? 0 : (DWORD)outcome.refusal;
    mode.freq = f.rate;
    mode.period = f.periodFrames;
    const bool hitLane = OutputHasHitLane();
    const OutputFormat& h = hitLane ? OutputHitLaneFormat() : f;
    const LanePolicy& p = hitLane ? OutputHitLanePolicy() : OutputCurrentPolicy();
    if (h.rate)
        mode.hitMs = (DWORD)(p.startFrames * 1000.0 / h.rate + h.latencyMs + 0.5);
    return mode;
}

const char* const kReasonTexts[] = {"", "device in use", "format not supported", "exclusive mode not allowed",
                                    "failed"};

} // namespace

BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* clsid)
{
    return Guarded("BASS_Init", FALSE, [&] {
        BOOL ok = FALSE;
        {
            std::lock_guard<std::mutex> hold(LifeLock);
            OutputSetTap(&RecorderTap);
            if (!DeviceInUse && (device == -1 || (device >= 1 && device <= DeviceCount())) && OutputOpen(device)) {
                bool channels = false;
                try {
                    channels = ChannelsOpen(OutputCurrentFormat().rate, InvokeSync);
                } catch (...) {
                    OutputClose();
                    throw;
                }
                if (channels) {
                    OutputStart();
                    DeviceInUse = device;
                    ok = TRUE;
                } else {
                    OutputClose();
                }
            }
        }
        if (TraceEnabled()) {
            const OutputFormat& f = OutputCurrentFormat();
            // The mode first, and after a fall back from exclusive output why.
            char mode[160] = "";
            if (ok) {
                BASS_OUTPUTMODE m = CurrentMode();
                const char* names[] = {"", "shared", "exclusive", "waveOut"};
                int n = snprintf(mode, sizeof(mode), "%s, ", names[m.mode]);
                if (m.reason != BASS_EXCLUSIVE_HAD)
                    snprintf(mode + n, sizeof(mode) - n, "exclusive refused: %s 0x%08lX, ", kReasonTexts[m.reason],
                             m.code);
            }
            char hits[96] = "off";
            if (ok && OutputHasHitLane()) {
                const OutputFormat& h = OutputHitLaneFormat();
                snprintf(hits, sizeof(hits), "period %u, buffer %u frames, stream latency %.1f ms", h.periodFrames,
                         h.bufferFrames, h.latencyMs);
            }
            const LanePolicy& p = OutputCurrentPolicy();
            TraceLine("BASS_Init(%d, %lu, %lu, %p, %p) = %d [%s%s %s %u Hz, period %u, ahead %u (%u after an idle "
                      "start, %u with music alone), start %u, buffer %u frames, stream latency %.1f ms, idle stop %s, "
                      "hit stream %s]",
                      device, freq, flags, (void*)win, clsid, ok, mode, OutputBackendName(), f.api, f.rate,
                      f.periodFrames, p.targetFrames, p.startFrames, ok && OutputHasHitLane() ? p.deepFrames : 0,
                      p.startFrames, f.bufferFrames, f.latencyMs, p.idles ? "on" : "off", hits);
        }
        return ok;
    });
}

BOOL WINAPI BASS_Set3DFactors(float distf, float rollf, float doppf)
{
    return Guarded("BASS_Set3DFactors", FALSE, [&] {
        BOOL ok = ChannelsAreOpen();
        return Traced(ok, "BASS_Set3DFactors(%g, %g, %g)", distf, rollf, doppf);
    });
}

BOOL WINAPI BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info)
{
    return Guarded("BASS_GetDeviceInfo", FALSE, [&] {
        const char* name = nullptr;
        const char* driver = nullptr;
        DWORD flags = 0;
        BOOL ok = info && device <= 0x7fffffff && DeviceDescribe((int)device, &name, &driver, &flags);
        if (ok) {
            std::lock_guard<std::mutex> hold(LifeLock);
            if (DeviceInUse == (int)device || (DeviceInUse == -1 && (flags & BASS_DEVICE_DEFAULT)))
                flags |= BASS_DEVICE_INIT;
            info->name = name;
            info->driver = driver;
            info->flags = flags;
        }
        if (TraceEnabled())
            TraceLine("BASS_GetDeviceInfo(%lu) {%s} = %d", device, ok ? TraceText(name).c_str() : "", ok);
        return ok;
    });
}

BOOL WINAPI BASS_Free()
{
    return Guarded("BASS_Free", FALSE, [&] {
        BOOL ok = FALSE;
        {
            std::lock_guard<std::mutex> hold(LifeLock);
            if (DeviceInUse) {
                // The output's last frames reach the file before it is closed.
                OutputClose();
                RecorderEnd(BASS_MIXRECORD_FREED);
                ChannelsClose();
                DeviceInUse = 0;
                ok = TRUE;
            }
        }
        return Traced(ok, "BASS_Free()");
    });
}

DWORD WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags)
{
    return Guarded("BASS_StreamCreateFile", (DWORD)0, [&] {
        // Only what the program asks for: a whole file by its ANSI path.
        DWORD handle = 0;
        if (!ChannelsAreOpen()) {
            FailCode = BASS_ERROR_INIT;
        } else if (!mem && file && offset == 0 && length == 0) {
            DecodeFailure why = DecodeFailure::None;
            std::unique_ptr<Decoder> decoder = OpenDecoder(static_cast<const char*>(file), &why);
            // A decoder without audio is no file we can play either.
            FailCode = why == DecodeFailure::CannotOpen ? BASS_ERROR_FILEOPEN : BASS_ERROR_FILEFORM;
            if (decoder && decoder->LengthFrames() && decoder->SampleRate() && decoder->FileChannels()) {
                FailCode = BASS_ERROR_UNKNOWN;
                handle = ChannelCreate(std::move(decoder));
            }
        }
        if (TraceEnabled())
            TraceLine("BASS_StreamCreateFile(%d, \"%s\", %llu, %llu, %lu) = %lu", mem,
                      mem ? "<memory>" : TraceText(static_cast<const char*>(file)).c_str(), offset, length, flags,
                      handle);
        return handle;
    });
}

BOOL WINAPI BASS_SampleFree(DWORD handle)
{
    return Guarded("BASS_SampleFree", FALSE,
                   [&] { return Traced(ChannelFree(handle), "BASS_SampleFree(%lu)", handle); });
}

// Streams and samples are both channels of one table here.
BOOL WINAPI BASS_StreamFree(DWORD handle)
{
    return Guarded("BASS_StreamFree", FALSE,
                   [&] { return Traced(ChannelFree(handle), "BASS_StreamFree(%lu)", handle); });
}

BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart)
{
    return Guarded("BASS_ChannelPlay", FALSE, [&] {
        int64_t playedAt = 0;
        BOOL ok = OutputPlay(handle, restart != FALSE, &playedAt);
        // The time the mixer places the hit by, not a later reading that
        // waking the mixer may have delayed.
        if (TraceEnabled())
            TraceLine("BASS_ChannelPlay(%lu, %d) = %d [at %.3f ms]", handle, restart, ok, playedAt / 1e6);
        return ok;
    });
}

BOOL WINAPI BASS_ChannelPlayGain(DWORD handle, float gain)
{
    return Guarded("BASS_ChannelPlayGain", FALSE, [&] {
        int64_t playedAt = 0;
        BOOL ok = OutputPlay(handle, true, &playedAt, gain);
        if (TraceEnabled())
            TraceLine("BASS_ChannelPlayGain(%lu, %g) = %d [at %.3f ms]", handle, gain, ok, playedAt / 1e6);
        return ok;
    });
}

static_assert(BASS_VOICES_MAX == kMaxChannelVoices, "the contract's voice count is the table's");

BOOL WINAPI BASS_ChannelSetVoices(DWORD handle, DWORD count)
{
    return Guarded("BASS_ChannelSetVoices", FALSE, [&] {
        return Traced(ChannelSetVoices(handle, count), "BASS_ChannelSetVoices(%lu, %lu)", handle, count);
    });
}

// Not traced: a caller may ask after every hit.
DWORD WINAPI BASS_ChannelGetVoices(DWORD handle)
{
    return Guarded("BASS_ChannelGetVoices", (DWORD)-1, [&] { return (DWORD)ChannelGetVoices(handle); });
}

BOOL WINAPI BASS_ChannelFadeOut(DWORD handle, DWORD ms)
{
    return Guarded("BASS_ChannelFadeOut", FALSE,
                   [&] { return Traced(ChannelFadeOut(handle, ms), "BASS_ChannelFadeOut(%lu, %lu)", handle, ms); });
}

BOOL WINAPI BASS_ChannelPause(DWORD handle)
{
    return Guarded("BASS_ChannelPause", FALSE,
                   [&] { return Traced(ChannelPause(handle), "BASS_ChannelPause(%lu)", handle); });
}

BOOL WINAPI BASS_ChannelStop(DWORD handle)
{
    return Guarded("BASS_ChannelStop", FALSE,
                   [&] { return Traced(ChannelStop(handle), "BASS_ChannelStop(%lu)", handle); });
}

BOOL WINAPI BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value)
{
    return Guarded("BASS_ChannelGetAttribute", FALSE, [&] {
        BOOL ok = attrib == BASS_ATTRIB_VOL && ChannelGetVolume(handle, value);
        return Traced(ok, "BASS_ChannelGetAttribute(%lu, %lu) {%g}", handle, attrib, ok ? *value : 0.0f);
    });
}

BOOL WINAPI BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value)
{
    return Guarded("BASS_ChannelSetAttribute", FALSE, [&] {
        BOOL ok = attrib == BASS_ATTRIB_VOL && ChannelSetVolume(handle, value);
        return Traced(ok, "BASS_ChannelSetAttribute(%lu, %lu, %g)", handle, attrib, value);
    });
}

QWORD WINAPI BASS_ChannelGetPosition(DWORD handle, DWORD mode)
{
    return Guarded("BASS_ChannelGetPosition", (QWORD)kNoPosition, [&] {
        QWORD pos = mode == BASS_POS_BYTE ? ChannelGetPosition(handle) : kNoPosition;
        if (TraceEnabled())
            TraceLine("BASS_ChannelGetPosition(%lu, %lu) = %lld", handle, mode, (long long)pos);
        return pos;
    });
}

BOOL WINAPI BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode)
{
    return Guarded("BASS_ChannelSetPosition", FALSE, [&] {
        BOOL ok = mode == BASS_POS_BYTE && ChannelSetPosition(handle, pos);
        return Traced(ok, "BASS_ChannelSetPosition(%lu, %llu, %lu)", handle, pos, mode);
    });
}

DWORD WINAPI BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user)
{
    return Guarded("BASS_ChannelSetSync", (DWORD)0, [&] {
        DWORD sync = 0;
        if ((type & ~BASS_SYNC_ONETIME) == BASS_SYNC_END)
            sync = ChannelSetEndSync(handle, reinterpret_cast<void*>(proc), user, (type & BASS_SYNC_ONETIME) != 0);
        if (TraceEnabled())
            TraceLine("BASS_ChannelSetSync(%lu, %lu, %llu, %p, %p) = %lu", handle, type, param,
                      reinterpret_cast<void*>(proc), user, sync);
        return sync;
    });
}

int WINAPI BASS_ErrorGetCode()
{
    return LastError;
}

BOOL WINAPI BASS_MixRecordStart(const char* file)
{
    return Guarded("BASS_MixRecordStart", FALSE, [&] {
        RecordStart result = RecordStart::Failed;
        {
            std::lock_guard<std::mutex> hold(LifeLock);
            if (!DeviceInUse) {
                FailCode = BASS_ERROR_INIT;
            } else if (!file) {
                FailCode = BASS_ERROR_CREATE;
            } else {
                const OutputFormat& f = OutputCurrentFormat();
                result = RecorderStart(file, f.rate, f.channels);
                if (result == RecordStart::Busy)
                    FailCode = BASS_ERROR_ALREADY;
                else if (result == RecordStart::CannotCreate)
                    FailCode = BASS_ERROR_CREATE;
            }
        }
        BOOL ok = result == RecordStart::Started;
        if (TraceEnabled())
            TraceLine("BASS_MixRecordStart(\"%s\") = %d", TraceText(file).c_str(), ok);
        return ok;
    });
}

BOOL WINAPI BASS_MixRecordStop(BASS_MIXRECORDINFO* info)
{
    return Guarded("BASS_MixRecordStop", FALSE, [&] {
        BASS_MIXRECORDINFO got = {};
        BOOL ok = RecorderStop(&got);
        if (ok && info)
            *info = got;
        if (TraceEnabled())
            TraceLine("BASS_MixRecordStop() {stopped %lu, %llu frames, %lu overruns} = %d", got.stopped, got.frames,
                      got.overruns, ok);
        return ok;
    });
}

// Not traced: the program asks once a second while recording.
BOOL WINAPI BASS_MixRecordGetInfo(BASS_MIXRECORDINFO* info)
{
    return Guarded("BASS_MixRecordGetInfo", FALSE, [&] {
        BASS_MIXRECORDINFO got = {};
        BOOL ok = RecorderInfo(&got);
        if (ok && info)
            *info = got;
        return ok;
    });
}

BOOL WINAPI BASS_SetExclusive(BOOL on)
{
    return Guarded("BASS_SetExclusive", FALSE, [&] {
        WasapiAskExclusive(on != FALSE);
        return Traced(TRUE, "BASS_SetExclusive(%d)", on);
    });
}

BOOL WINAPI BASS_GetOutputMode(BASS_OUTPUTMODE* info)
{
    return Guarded("BASS_GetOutputMode", FALSE, [&] {
        BOOL ok = FALSE;
        BASS_OUTPUTMODE mode = {};
        {
            std::lock_guard<std::mutex> hold(LifeLock);
            if (!DeviceInUse) {
                FailCode = BASS_ERROR_INIT;
            } else if (info) {
                mode = CurrentMode();
                *info = mode;
                ok = TRUE;
            }
        }
        return Traced(ok, "BASS_GetOutputMode() {mode %lu, asked %lu, reason %lu, code 0x%08lX}", mode.mode, mode.asked,
                      mode.reason, mode.code);
    });
}

DWORD WINAPI BASS_MixRecordGetHits(BASS_MIXRECORDHIT* hits, DWORD first, DWORD max)
{
    return Guarded("BASS_MixRecordGetHits", (DWORD)0, [&] {
        DWORD n = RecorderHits(hits, first, max);
        if (TraceEnabled())
            TraceLine("BASS_MixRecordGetHits(%p, %lu, %lu) = %lu", static_cast<void*>(hits), first, max, n);
        return n;
    });
}

BOOL WINAPI BASS_MetronomeSet(const BASS_METRONOME* m)
{
    return Guarded("BASS_MetronomeSet", FALSE, [&] {
        BOOL ok = FALSE;
        if (m && m->tempo >= BASS_METRONOME_TEMPO_MIN && m->tempo <= BASS_METRONOME_TEMPO_MAX && m->beats >= 1 && m->beats <= kClickMaxBeats &&
            m->volume >= 0 && m->volume <= 1) {
            ClickSettings s;
            s.milliBpm = (uint32_t)std::lround(m->tempo * 1000.0);
            s.beats = m->beats;
            s.volume = m->volume;
            s.record = m->record != FALSE;
            OutputSetMetronome(s);
            ok = TRUE;
        } else {
            FailCode = BASS_ERROR_ILLPARAM;
        }
        if (TraceEnabled())
            TraceLine("BASS_MetronomeSet({%.3f, %lu, %.3f, %lu}) = %d", m ? m->tempo : 0.0, m ? m->beats : 0,
                      m ? m->volume : 0.0, m ? m->record : 0, ok);
        return ok;
    });
}

BOOL WINAPI BASS_MetronomeStart(BOOL on)
{
    return Guarded("BASS_MetronomeStart", FALSE, [&] {
        OutputRunMetronome(on != FALSE);
        return Traced(TRUE, "BASS_MetronomeStart(%d)", on);
    });
}

BOOL WINAPI BASS_SetDecodeBudget(QWORD bytes)
{
    return Guarded("BASS_SetDecodeBudget", FALSE, [&] {
        SetDecodeBudget(bytes);
        return Traced(TRUE, "BASS_SetDecodeBudget(%llu)", bytes);
    });
}
