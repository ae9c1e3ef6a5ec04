#!/bin/sh
# Makes the MP3, WMA and coded WAV files of the decoding tests, and lame's
# and ffmpeg's own decodes of them as references; and FLAC and Ogg Vorbis
# files for the decode benchmark:
# tools/make_codec_fixtures.sh OUTDIR
set -e
out=$1
mkdir -p "$out"
cd "$out"
# sox -R: no random dither seed, so every build encodes the same samples and
# lame (deterministic itself) lays out the same VBR frames.
# A sweep with a second, independent sweep on the right: no period, so a
# cross-correlation has one clear peak.
sox -R -n -r 44100 -c 2 -b 16 source.wav synth 3 sine 150:3000 sine 4000:300 gain -6
sox -R -n -r 22050 -c 1 -b 16 source22.wav synth 2 sine 200:2000 gain -6
sox -R -n -r 11025 -c 1 -b 16 source11.wav synth 2 sine 300:1500 gain -6
lame --quiet -b 128 source.wav cbr.mp3
lame --quiet -V 4 source.wav vbr.mp3
lame --quiet -b 64 -m m source22.wav mpeg2.mp3
lame --quiet -b 32 -m m source11.wav mpeg25.mp3
lame --quiet -b 128 --add-id3v2 --tt "tagged" --ta "tester" source.wav id3.mp3
for f in cbr vbr mpeg2 mpeg25 id3; do
    lame --quiet --decode "$f.mp3" "$f.ref.wav"
done
# WMA, decoded through Media Foundation and compared with its source.
ffmpeg -loglevel error -y -i source.wav -c:a wmav2 -b:a 128k stereo.wma
ffmpeg -loglevel error -y -i source22.wav -c:a wmav2 -b:a 48k mono.wma
cp stereo.wma "歌曲.wma"
# Ten minutes of music-like audio for the memory and seek figures.
sox -R -n -r 44100 -c 2 -b 16 long.wav synth 600 sine 100:5000 sine 5000:100 gain -6
lame --quiet -b 128 long.wav long.mp3
rm -f long.wav long.mp3.tmp
# A RIFF WAVE file whose data is MP3 (format 0x55).
python3 - <<'PY'
import struct
mp3 = open("cbr.mp3", "rb").read()
fmt = struct.pack("<4sIHHIIHHH", b"fmt ", 18, 0x55, 2, 44100, 16000, 1, 0, 0)
body = b"WAVE" + fmt + b"data" + struct.pack("<I", len(mp3)) + mp3
open("mp3_in_wav.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
# The old WAV codings of sample packs, for the system's ACM codecs.
sox -R source.wav -e ima-adpcm ima_adpcm.wav
sox -R source.wav -e ms-adpcm ms_adpcm.wav
sox -R source22.wav -e u-law mulaw.wav
sox -R source22.wav -e a-law alaw.wav
# A coding no codec knows (tag 0x7A7A), otherwise a sound WAV.
python3 - <<'PY'
import struct
pcm = open("source22.wav", "rb").read()[44:44 + 8000]
fmt = struct.pack("<4sIHHIIHHH", b"fmt ", 18, 0x7A7A, 1, 22050, 11025, 1, 4, 0)
body = b"WAVE" + fmt + b"data" + struct.pack("<I", len(pcm)) + pcm
open("unknown_coding.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
# The same codings in extensible headers, as some editors write them, and a
# WAV of MPEG layer 3 with the header its codec takes: a coding the
# program refuses although the system has a codec for it.
python3 - <<'PY'
import struct

def chunks(path):
    data = open(path, "rb").read()
    found, at = {}, 12
    while at + 8 <= len(data):
        name, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        found.setdefault(name, data[at + 8:at + 8 + size])
        at += 8 + size + (size & 1)
    return found

def write(path, fmt, data):
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)

guid_tail = bytes([0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
for name in ("ima_adpcm", "ms_adpcm", "mulaw"):
    c = chunks(name + ".wav")
    fmt = c[b"fmt "]
    tag, channels = struct.unpack("<HH", fmt[:4])
    extra = fmt[18:18 + struct.unpack("<H", fmt[16:18])[0]] if len(fmt) >= 18 else b""
    union, rest = (extra[:2], extra[2:]) if extra else (struct.pack("<H", 8), b"")
    ext = (struct.pack("<H", 0xFFFE) + fmt[2:16] + struct.pack("<H", 22 + len(rest)) + union +
           struct.pack("<I", 4 if channels == 1 else 3) + struct.pack("<H", tag) + guid_tail + rest)
    write(name + "_extensible.wav", ext, c[b"data"])

mp3 = open("cbr.mp3", "rb").read()
fmt = struct.pack("<HHIIHHHHIHHH", 0x55, 2, 44100, 16000, 1, 0, 12, 1, 2, 417, 1, 1393)
write("mpeg_layer3.wav", fmt, mp3)
PY
# 30 s of 16-bit stereo: past the size read into memory, so it streams.
sox -R -n -r 44100 -c 2 -b 16 large.wav synth 30 sine 100:5000 sine 5000:100 gain -6
# 19 s of stereo drums-like sound in FLAC and Ogg Vorbis for the decode
# benchmark: a sweep and noise bursts.
sox -R -n -r 44100 -c 2 -b 16 drums19.wav synth 19 sine 60:8000 whitenoise tremolo 4 90 gain -6
flac -s -f drums19.wav -o drums19.flac
oggenc -Q drums19.wav -o drums19.ogg
rm -f drums19.wav
# Names in Chinese reach the program as GBK and are stored as UTF-8 on disk.
cp cbr.mp3 "音乐.mp3"
cp source22.wav "鼓声.wav"
touch stamp
