# SPDX-License-Identifier: GPL-3.0-or-later
# A headless GNOME desktop for the portal tests and benchmarks, sourced
# after e2e_lib.sh, e2e_init and e2e_network: a private session bus and
# runtime folder (RT) in node s, PipeWire, WirePlumber, mutter with one
# virtual monitor, and the portals the bus starts. Sets RT,
# DBUS_SESSION_BUS_ADDRESS, WAYLAND_DISPLAY, XDG_SESSION_TYPE, SESSION (the
# session's environment for its clients) and the EXIT trap that ends it.
#
#   gnome_desktop_start WIDTHxHEIGHT    false (with a FAIL line) when it did not start
#   gnome_screencast_approve            pre-approves the monitor; sets TOKEN

gnome_desktop_start() {  # size
  local _
  RT=$WORK/rt
  mkdir -m 700 "$RT"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$RT/bus
  export WAYLAND_DISPLAY=$RT/wayland-0
  export XDG_SESSION_TYPE=wayland
  unset DISPLAY
  # The bus starts the portals with its own environment.
  SESSION=(env XDG_RUNTIME_DIR="$RT" XDG_CURRENT_DESKTOP=GNOME G_MESSAGES_DEBUG=all
           GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1)
  trap gnome_desktop_end EXIT
  spawn_in s "${SESSION[@]}" dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" \
    >"$WORK/bus.log" 2>&1
  for _ in $(seq 50); do [ -S "$RT/bus" ] && break; sleep 0.1; done
  spawn_in s "${SESSION[@]}" pipewire >"$WORK/pipewire.log" 2>&1
  # WirePlumber gives up when PipeWire's socket is not there yet.
  for _ in $(seq 100); do [ -S "$RT/pipewire-0" ] && break; sleep 0.1; done
  spawn_in s "${SESSION[@]}" wireplumber >"$WORK/wireplumber.log" 2>&1
  local wireplumber=$SPAWNED
  spawn_in s "${SESSION[@]}" mutter --headless --virtual-monitor "$1" --wayland --no-x11 \
    >"$WORK/mutter.log" 2>&1
  for _ in $(seq 100); do [ -S "$RT/wayland-0" ] && break; sleep 0.1; done
  [ -S "$RT/wayland-0" ] || { fail "mutter did not start: $(tail -3 "$WORK/mutter.log")"; return 1; }
  kill -0 "$wireplumber" 2>/dev/null ||
    { fail "WirePlumber ended: $(tail -1 "$WORK/wireplumber.log")"; return 1; }
  in_ns s dbus-update-activation-environment WAYLAND_DISPLAY=wayland-0 >/dev/null 2>&1
}

# Processes the bus started are not in PIDS: they carry RT in their
# environment.
gnome_desktop_end() {
  local p
  for p in /proc/[0-9]*; do
    grep -qsz "^XDG_RUNTIME_DIR=$RT\$" "$p/environ" && kill -TERM "${p#/proc/}" 2>/dev/null
  done
  e2e_cleanup
}

# The permission store entry the portal would have written after the user
# chose the (only) monitor in its dialog.
gnome_screencast_approve() {
  local monitor
  in_ns s busctl --user --json=short call org.gnome.Mutter.DisplayConfig \
    /org/gnome/Mutter/DisplayConfig org.gnome.Mutter.DisplayConfig GetCurrentState \
    >"$WORK/display.json" 2>&1
  monitor=$("$PYTHON" -c 'import json,sys
m = json.load(open(sys.argv[1]))["data"][1][0][0]
print(":".join(m[1:4]))' "$WORK/display.json") || { fail "cannot read mutter's monitor"; return 1; }
  TOKEN=$(cat /proc/sys/kernel/random/uuid)
  gnome_store SetPermission screencast true "$TOKEN" "" "['yes']" &&
    gnome_store SetValue screencast true "$TOKEN" \
      "<('GNOME', uint32 1, <(int64 0, int64 0, [(uint32 0, uint32 1, <'$monitor'>)])>)>" ||
    { fail "cannot pre-approve in the permission store"; return 1; }
}

gnome_store() {
  in_ns s gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method "org.freedesktop.impl.portal.PermissionStore.$1" "${@:2}" >/dev/null
}
