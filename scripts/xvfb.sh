# shellcheck shell=bash
# A private X display for whatever Wine shows; sourced by the scripts that
# run Windows programs. start_xvfb sets DISPLAY and xvfb_pid; stop_xvfb ends it.
xvfb_pid=""

start_xvfb() {
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
    if [ ! -s "$display_file" ]; then
        rm -f "$display_file"
        echo "${0##*/}: Xvfb did not start" >&2
        return 1
    fi
    DISPLAY=":$(head -1 "$display_file")"
    export DISPLAY
    rm -f "$display_file"
}

stop_xvfb() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
}
