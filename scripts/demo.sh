#!/usr/bin/env bash
# The main job: installs what is needed, builds both targets, then renders a
# demo through the built Linux LV2 bundle with lilv's lv2apply (a real LV2
# host) at a few settings, writing WAV files and spectrograms to out/demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/build.sh

uri=https://brume-audio.org/plugins/vexo
out=out/demo
mkdir -p "$out"
export LV2_PATH="$root/build/linux/bundles"

# Eight seconds of source: a low sawtooth chord over pink noise, 48 kHz mono.
sox -n -r 48000 -c 1 -b 24 "$out/source.wav" \
    synth 8 sawtooth 55 sawtooth 82.5 sawtooth 110 pinknoise remix - gain -n -6

render() {  # name cutoff lfo_amt lfo_speed
  sox "$out/source.wav" -b 32 -e floating-point "$out/in32.wav"
  lv2apply -i "$out/in32.wav" -o "$out/$1.raw.wav" -c cutoff "$2" -c lfo_amt "$3" -c lfo_speed "$4" "$uri"
  sox "$out/$1.raw.wav" -b 24 "$out/$1.wav" gain -n -1
  sox "$out/$1.wav" -n rate 8k spectrogram -x 1200 -y 400 -z 90 -t "Vexo: cutoff $2, lfo_amt $3, lfo_speed $4" \
      -o "$out/$1.png"
  rm -f "$out/$1.raw.wav" "$out/in32.wav"
  echo "  $out/$1.wav  (cutoff $2, lfo_amt $3, lfo_speed $4)"
}

echo "Rendering through $LV2_PATH/brume-vexo.lv2 with lv2apply:"
render static-7          7  0  7
render slow-sweep        8  8  2
render medium-sweep      8  15 7
render fast-sweep        8  15 12
render fastest-deep      7  15 15
sox "$out/static-7.wav" "$out/slow-sweep.wav" "$out/medium-sweep.wav" "$out/fast-sweep.wav" \
    "$out/fastest-deep.wav" "$out/sweeps.wav"
sox "$out/sweeps.wav" -n rate 8k spectrogram -x 2000 -y 500 -z 90 \
    -t "Vexo: static, then lfo_amt/lfo_speed sweeps" -o "$out/sweeps.png"

cat <<MSG

Demo written to $out/ (WAV files and spectrograms; sweeps.png shows all five in a row).

Installable bundles (copy the whole folder):
  Windows VST3: build/windows/bundles/brume-vexo.vst3 -> %COMMONPROGRAMFILES%\\VST3\\
  Linux VST3:   build/linux/bundles/brume-vexo.vst3   -> ~/.vst3/
  Windows LV2:  build/windows/bundles/brume-vexo.lv2  -> %COMMONPROGRAMFILES%\\LV2\\
  Linux LV2:    build/linux/bundles/brume-vexo.lv2    -> ~/.lv2/
MSG
