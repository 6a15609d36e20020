# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the screenshot makers: re-runs the calling script in a private
# network namespace (root), with multicast on its loopback, a work folder and
# private settings and runtime folders; PIDS holds background processes, which
# are stopped, newest first, at exit.
if [ -z "${QC_SHOT_IN_NETNS:-}" ]; then
  export QC_SHOT_IN_NETNS=1
  exec unshare -n -- "$0" "$@"
fi
ip link set lo up; ip link set lo multicast on; ip route add 224.0.0.0/4 dev lo
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for ((i=${#PIDS[@]}-1; i>=0; i--)); do kill "${PIDS[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
