#!/bin/sh
# Makes the ffmpeg-encoded clips the decoder benchmarks run on, in directory $1:
# three QCIF H.263 clips of different content, one CIF clip, and G.723.1 speech
# at both rates, spoken by espeak-ng and resampled to 8000 Hz by sox.
# Encoders differ between ffmpeg versions, so the clips are made, not committed.
set -eu
out=${1:?usage: make_clips.sh DIRECTORY}
mkdir -p "$out"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

ff -f lavfi -i testsrc=size=176x144:rate=30 -t 10 -c:v h263 -q:v 5 -f h263 "$out/testsrc_qcif.263"
ff -f lavfi -i mandelbrot=size=176x144:rate=30 -t 10 -c:v h263 -q:v 3 -f h263 "$out/mandelbrot_qcif.263"
# Noise everywhere: many coded coefficients per block, the decoder's worst case.
ff -f lavfi -i "testsrc2=size=176x144:rate=30,noise=alls=30:allf=t" -t 5 -c:v h263 -q:v 2 -f h263 \
  "$out/noise_qcif.263"
ff -f lavfi -i testsrc2=size=352x288:rate=30 -t 5 -c:v h263 -q:v 4 -f h263 "$out/testsrc2_cif.263"

text="A short spoken message, decoded ahead of playback. The pictures wait for the speech, \
so the speech decoder must be quick. Seven, eight, nine, ten."
espeak-ng -w "$out/speech_22k.wav" "$text"
sox "$out/speech_22k.wav" -r 8000 -c 1 -b 16 "$out/speech_8k.wav"
ff -i "$out/speech_8k.wav" -c:a g723_1 -b:a 6300 -f g723_1 "$out/speech_63.723"
ff -i "$out/speech_8k.wav" -c:a g723_1 -b:a 5300 -f g723_1 "$out/speech_53.723" 2>/dev/null ||
  rm -f "$out/speech_53.723"
rm -f "$out/speech_22k.wav" "$out/speech_8k.wav"
