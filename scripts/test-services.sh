#!/usr/bin/env bash
# start RUNTIME: starts a user-space PulseAudio server with a float32 null sink "loop" (its
#   monitor is a bit-exact loopback) and a sink "filtered" in front of it that runs a third-party
#   one-pole low-pass at 1 kHz (a known filter between output and input), and prints the
#   environment the tests need.
# stop RUNTIME: stops what start started.
set -euo pipefail
action=$1
runtime=$2

# Prints the Description of the sink or source named $1 from a "pactl list" listing on stdin.
description_of() {
  awk -v want="$1" '$1 == "Name:" { name = $2 } $1 == "Description:" && name == want {
    sub(/^[[:space:]]*Description: /, ""); print; exit }'
}

start_pulse() {
  mkdir -p "$runtime/pulse-home"
  HOME="$runtime/pulse-home" XDG_RUNTIME_DIR="$runtime" \
    pulseaudio -D -n --exit-idle-time=-1 --log-target="file:$runtime/pa.log" \
      --use-pid-file=yes \
      --load="module-null-sink sink_name=loop rate=48000 format=float32le channels=2" \
      --load="module-ladspa-sink sink_name=filtered master=loop plugin=cmt label=lpf control=1000" \
      --load="module-native-protocol-unix socket=$runtime/pulse.sock" >/dev/null 2>&1
  local server="unix:$runtime/pulse.sock"
  for _ in $(seq 50); do
    PULSE_SERVER=$server pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  PULSE_SERVER=$server pactl set-default-sink loop
  PULSE_SERVER=$server pactl set-default-source loop.monitor
  # ALSA's default leads to the server; the sink and its monitor are also declared as PCMs of
  # their own, one-sided, under the server's descriptions, so ALSA can list them.
  local sink_name filtered_name monitor_name
  sink_name=$(PULSE_SERVER=$server pactl list sinks | description_of loop)
  filtered_name=$(PULSE_SERVER=$server pactl list sinks | description_of filtered)
  monitor_name=$(PULSE_SERVER=$server pactl list sources | description_of loop.monitor)
  cat > "$runtime/asoundrc" <<EOF
pcm.!default { type pulse }
ctl.!default { type pulse }
pcm.loop { type asym playback.pcm { type pulse device "loop" } hint { show on description "$sink_name" } }
pcm.loop_filtered { type asym playback.pcm { type pulse device "filtered" } hint { show on description "$filtered_name" } }
pcm.loop_monitor { type asym capture.pcm { type pulse device "loop.monitor" } hint { show on description "$monitor_name" } }
EOF
  echo "export PULSE_SERVER=$server"
  echo "export SNT_TEST_ASOUNDRC=$runtime/asoundrc"
}

stop_pulse() {
  local pidfile
  pidfile=$(find "$runtime" -name pid -path '*pulse*' 2>/dev/null | head -n 1)
  if [ -n "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
  fi
}

case "$action" in
  start) start_pulse ;;
  stop) stop_pulse ;;
  *) echo "usage: $0 start|stop RUNTIME" >&2; exit 2 ;;
esac
