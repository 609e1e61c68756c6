#!/usr/bin/env bash
# Writes tests/audio/aes67/data/ptp4l.pcap: a few seconds of real PTP traffic between ptp4l as
# grandmaster (two-step Sync, Follow_Up, Announce) and ptp4l as slave (Delay_Req, Delay_Resp),
# captured in a network namespace made for it. The parser test compares its reading of every
# datagram with tshark's. Run as root or where user namespaces are allowed.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$PWD/tests/audio/aes67/data/ptp4l.pcap
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/gm.cfg" <<CFG
[global]
masterOnly 1
logSyncInterval -3
priority1 127
clockIdentity 02AAAA.FFFE.000001
uds_address $work/gm.sock
CFG
cat > "$work/slave.cfg" <<CFG
[global]
slaveOnly 1
uds_address $work/slave.sock
CFG
scripts/netns-run.sh bash -c "
  nsenter --net=/proc/\$SNT_NETNS_CHILD/ns/net timeout 15 ptp4l -i v1 -S -4 -f $work/gm.cfg &
  timeout 15 ptp4l -i v0 -S -4 -f $work/slave.cfg &
  timeout 14 tshark -q -i v0 -f 'udp port 319 or udp port 320' -w $work/all.pcap 2>/dev/null
  wait"
# The first three of each message type are plenty.
frames=$(tshark -r "$work/all.pcap" -T fields -e frame.number -e ptp.v2.messagetype 2>/dev/null \
  | awk '{ if (++seen[$2] <= 3) printf "%sframe.number==%s", (n++ ? " || " : ""), $1 }')
tshark -r "$work/all.pcap" -Y "$frames" -w "$out" 2>/dev/null
echo "wrote $out"
