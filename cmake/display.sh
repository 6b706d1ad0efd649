# Sourced by the scripts that start Windows programs with windows: an X display
# for them. start_display starts Xvfb on the first free display :90-:99 when
# DISPLAY is unset (CI has none) and exports DISPLAY; stop_display ends it.
xvfb_pid=""
start_display() {
  if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 99); do
      [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
      Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=:$n
      for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
      echo "Xvfb on $DISPLAY" >&2
      break
    done
  fi
}
stop_display() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
