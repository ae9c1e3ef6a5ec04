// Stream creation of a 1-second WAV against reading the same file's bytes.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bass/bass.h"
#include "bass/decoder.h"
#include "bench/bench_clock.h"

namespace {

std::string WriteWav()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "bass_create_bench.wav";
    const uint32_t frames = 44100, data = frames * 4, riff = 36 + data, fmt = 16, rate = 44100, bytes = rate * 4;
    const uint16_t pcm = 1, ch = 2, align = 4, bits = 16;
    std::vector<int16_t> s(frames * 2);
    for (uint32_t i = 0; i < frames; i++)
        s[2 * i] = s[2 * i + 1] = (int16_t)(9000 * std::sin(6.2831853 * 440 * i / 44100));
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite("RIFF", 1, 4, f);
    std::fwrite(&riff, 4, 1, f);
    std::fwrite("WAVEfmt ", 1, 8, f);
    std::fwrite(&fmt, 4, 1, f);
    std::fwrite(&pcm, 2, 1, f);
    std::fwrite(&ch, 2, 1, f);
    std::fwrite(&rate, 4, 1, f);
    std::fwrite(&bytes, 4, 1, f);
    std::fwrite(&align, 2, 1, f);
    std::fwrite(&bits, 2, 1, f);
    std::fwrite("data", 1, 4, f);
    std::fwrite(&data, 4, 1, f);
    std::fwrite(s.data(), 2, s.size(), f);
    std::fclose(f);
    return path;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    if (!BASS_Init(-1, 44100, 4, nullptr, nullptr)) {
        std::printf("BASS_Init failed\n");
        return 1;
    }
    std::string path = WriteWav();
    std::vector<char> buffer(1 << 20);
    std::vector<double> create, read, decode;
    std::vector<float> pcm(44100 * 2);
    for (int i = 0; i < 300; i++) {
        double t0 = Now();
        DWORD h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
        double t1 = Now();
        BASS_SampleFree(h);
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD got = 0;
        ReadFile(f, buffer.data(), (DWORD)buffer.size(), &got, nullptr);
        CloseHandle(f);
        double t2 = Now();
        if (!h || got < 176400) {
            std::printf("failed: handle %lu, read %lu bytes\n", h, got);
            return 1;
        }
        auto decoder = OpenDecoder(path.c_str());
        decoder->Read(pcm.data(), 44100);
        decoder.reset();
        double t3 = Now();
        decode.push_back(t3 - t2);
        create.push_back(t1 - t0);
        read.push_back(t2 - t1);
    }
    double c = Median(create) * 1000, r = Median(read) * 1000;
    std::printf("1 s 44100 Hz stereo 16-bit WAV, median of 300\n");
    std::printf("  BASS_StreamCreateFile: %.3f ms\n", c);
    std::printf("  open + read its bytes: %.3f ms\n", r);
    std::printf("  OpenDecoder + Read into a reused buffer: %.3f ms\n", Median(decode) * 1000);
    std::printf("  ratio: %.2f\n", c / r);
    BASS_Free();
    DeleteFileA(path.c_str());
    return 0;
}
