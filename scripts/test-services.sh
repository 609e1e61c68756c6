#!/usr/bin/env bash
# start RUNTIME: starts a user-space PulseAudio server with a float32 null sink "loop" (its
#   monitor is a bit-exact loopback) with a sink "filtered" in front of it that runs a
#   third-party one-pole low-pass at 1 kHz (a known filter between output and input), and a
#   one-channel null sink "mono" whose monitor stands for a mono microphone; a second
#   one whose levels, defaults and modules the system check's test may change (a null sink
#   "desk"), apart from the first so that no measurement hears those changes; and a JACK
#   server without hardware (dummy driver, 48 kHz, 256-frame periods, two capture and two
#   playback ports) under a name of its own, so test runs side by side do not share it; prints
#   the environment the tests need.
# stop RUNTIME: stops what start started.
set -euo pipefail
action=$1
runtime=$2

# Prints the Description of the sink or source named $1 from a "pactl list" listing on stdin.
description_of() {
  awk -v want="$1" '$1 == "Name:" { name = $2 } $1 == "Description:" && name == want {
    sub(/^[[:space:]]*Description: /, ""); print; exit }'
}

# Starts a PulseAudio server with runtime folder $1 and home $2 that loads the modules given
# after them and listens on $1/pulse.sock; returns once it answers.
launch_pulse() {
  local folder=$1 home=$2
  shift 2
  local loads=()
  for module in "$@"; do
    loads+=(--load="$module")
  done
  mkdir -p "$home"
  # Audio goes over the socket, not shared memory: the server's shared-memory path has a known
  # fault that aborts it when a client stalls (memblock import assertion). It logs at debug
  # level: only there does it say how far it rewound a sink, which the tests read.
  HOME="$home" XDG_RUNTIME_DIR="$folder" \
    pulseaudio -D -n --exit-idle-time=-1 --log-level=debug --log-target="file:$folder/pa.log" \
      --use-pid-file=yes --disable-shm=yes "${loads[@]}" \
      --load="module-native-protocol-unix socket=$folder/pulse.sock" >/dev/null 2>&1
  for _ in $(seq 50); do
    PULSE_SERVER="unix:$folder/pulse.sock" pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
}

start_pulse() {
  launch_pulse "$runtime" "$runtime/pulse-home" \
    "module-null-sink sink_name=loop rate=48000 format=float32le channels=2" \
    "module-ladspa-sink sink_name=filtered master=loop plugin=cmt label=lpf control=1000" \
    "module-null-sink sink_name=mono rate=48000 format=float32le channels=1 sink_properties=device.description=Mono"
  local server="unix:$runtime/pulse.sock"
  PULSE_SERVER=$server pactl set-default-sink loop
  PULSE_SERVER=$server pactl set-default-source loop.monitor
  # ALSA's default leads to the server; the sink and its monitor are also declared as PCMs of
  # their own, one-sided, under the server's descriptions, so ALSA can list them, and as one
  # PCM that plays into the filtering sink and records the monitor, as a duplex card does. The
  # mono monitor is declared as a microphone of its own.
  local sink_name filtered_name monitor_name mono_name
  sink_name=$(PULSE_SERVER=$server pactl list sinks | description_of loop)
  filtered_name=$(PULSE_SERVER=$server pactl list sinks | description_of filtered)
  monitor_name=$(PULSE_SERVER=$server pactl list sources | description_of loop.monitor)
  mono_name=$(PULSE_SERVER=$server pactl list sources | description_of mono.monitor)
  cat > "$runtime/asoundrc" <<EOF
pcm.!default { type pulse }
ctl.!default { type pulse }
pcm.loop { type asym playback.pcm { type pulse device "loop" } hint { show on description "$sink_name" } }
pcm.loop_filtered { type asym playback.pcm { type pulse device "filtered" } hint { show on description "$filtered_name" } }
pcm.loop_monitor { type asym capture.pcm { type pulse device "loop.monitor" } hint { show on description "$monitor_name" } }
pcm.loop_duplex { type asym playback.pcm { type pulse device "filtered" } capture.pcm { type pulse device "loop.monitor" } hint { show on description "Filtered loop" } }
pcm.mono_mic { type asym capture.pcm { type pulse device "mono.monitor" } hint { show on description "$mono_name" } }
EOF
  echo "export PULSE_SERVER=$server"
  echo "export SNT_TEST_ASOUNDRC=$runtime/asoundrc"
  echo "export SNT_TEST_PULSE_LOG=$runtime/pa.log"
}

# The server for the system check's test, on a runtime folder of its own.
start_settings_pulse() {
  local folder="$runtime/settings"
  mkdir -p "$folder"
  launch_pulse "$folder" "$folder/home" \
    "module-null-sink sink_name=desk rate=48000 format=float32le channels=2 sink_properties=device.description=Desk"
  local server="unix:$folder/pulse.sock"
  PULSE_SERVER=$server pactl set-default-sink desk
  PULSE_SERVER=$server pactl set-default-source desk.monitor
  echo "export SNT_TEST_SETTINGS_PULSE_SERVER=$server"
}

stop_pulse() {
  local pidfile
  find "$runtime" -name pid -path '*pulse*' 2>/dev/null | while read -r pidfile; do
    kill "$(cat "$pidfile")" 2>/dev/null || true
  done
}

start_jack() {
  "$(dirname "$0")/reclaim-jack-places.sh"
  local name="snt$$$(printf '%04x' $((RANDOM)))"
  jackd --no-realtime -n "$name" -d dummy -r 48000 -p 256 >"$runtime/jackd.log" 2>&1 &
  echo $! >"$runtime/jackd.pid"
  for _ in $(seq 50); do
    jack_lsp -s "$name" >/dev/null 2>&1 && break
    sleep 0.1
  done
  echo "export SNT_TEST_JACK_SERVER=$name"
}

# Waits until the JACK server has left: one that is killed before it unregistered keeps its
# place in JACK's machine-wide table of servers, which holds only eight.
stop_jack() {
  [ -f "$runtime/jackd.pid" ] || return 0
  local pid
  pid=$(cat "$runtime/jackd.pid")
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    # Gone, or left as a zombie for a parent that does not collect it.
    if [ ! -e "/proc/$pid" ] || grep -q '^State:[[:space:]]*Z' "/proc/$pid/status" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

case "$action" in
  start) start_pulse; start_settings_pulse; start_jack ;;
  stop) stop_pulse; stop_jack ;;
  *) echo "usage: $0 start|stop RUNTIME" >&2; exit 2 ;;
esac
