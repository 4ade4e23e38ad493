# shellcheck shell=bash
# The demo that script/run and script/screenshot share: a local web-folder service with the
# account demo / demo1234, two companies, and the desktop window pointed at it.

DEMO_HOME="${TIDEWELL_DEMO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/tidewell-demo}"
DEMO_BUILD="${DEMO_BUILD:-build}"
SERVICE_BIN="$DEMO_BUILD/server/tidewell-webfolder"
CLI_BIN="$DEMO_BUILD/tools/tidewell-cli/tidewell-cli"
MAKER_BIN="$DEMO_BUILD/tools/companymaker/tidewell-make-company"
APP_BIN="$DEMO_BUILD/tidewell/app/tidewell"

SERVICE_PID=""
XVFB_PID=""
WM_PID=""
APP_PID=""

demo_log() { echo "script: $*" >&2; }

# The demo keeps its own settings hive, work folder and runtime folder, so the user's own
# settings stay as they are.
demo_environment() {
    mkdir -p "$DEMO_HOME/config" "$DEMO_HOME/tmp" "$DEMO_HOME/runtime"
    chmod 700 "$DEMO_HOME/runtime"
    export XDG_CONFIG_HOME="$DEMO_HOME/config"
    export TMPDIR="$DEMO_HOME/tmp"
    export XDG_RUNTIME_DIR="$DEMO_HOME/runtime"
}

demo_stop() {
    if [ -n "$1" ]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

demo_cleanup() {
    # A service held still for a picture must be able to end.
    if [ -n "$SERVICE_PID" ]; then kill -CONT "$SERVICE_PID" 2>/dev/null || true; fi
    demo_stop "$APP_PID"
    demo_stop "$WM_PID"
    demo_stop "$XVFB_PID"
    demo_stop "$SERVICE_PID"
    APP_PID="" WM_PID="" XVFB_PID="" SERVICE_PID=""
    # A demo made only for one session goes with it.
    if [ "${DEMO_THROWAWAY:-0}" = 1 ]; then rm -rf "$DEMO_HOME"; fi
}

# Starts the service on a loopback port (the one given, or a free one); TIDEWELL_SERVICE_URL
# points at it.
demo_start_service() {
    mkdir -p "$DEMO_HOME/service"
    local portfile="$DEMO_HOME/service.port"
    : >"$portfile"
    "$SERVICE_BIN" serve --data "$DEMO_HOME/service" --listen "127.0.0.1:${1:-0}" \
        >"$portfile" 2>>"$DEMO_HOME/service.log" &
    SERVICE_PID=$!
    trap demo_cleanup EXIT
    local port=""
    for _ in $(seq 1 300); do
        port=$(head -n 1 "$portfile" 2>/dev/null || true)
        [ -n "$port" ] && break
        kill -0 "$SERVICE_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        demo_log "the web-folder service did not start; see $DEMO_HOME/service.log"
        exit 1
    fi
    export TIDEWELL_SERVICE_URL="http://127.0.0.1:$port"
    demo_log "web-folder service at $TIDEWELL_SERVICE_URL (data in $DEMO_HOME/service)"
}

demo_cli() { TIDEWELL_USERID=demo TIDEWELL_PASSWORD=demo1234 "$CLI_BIN" "$@"; }

# Forgets the demo: its web folder, companies, settings, work folder and logs.
demo_reset() {
    case "$DEMO_HOME" in
        */tidewell-demo | */tidewell-demo/) ;;
        *) [ -n "${TIDEWELL_DEMO_HOME:-}" ] || { demo_log "refusing to remove $DEMO_HOME"; exit 1; } ;;
    esac
    rm -rf "$DEMO_HOME"
    demo_log "demo removed: $DEMO_HOME"
}

# The account, and once per data folder the two companies: 강남 지점 only in the web folder,
# 본점 registered here and changed after its last upload.
demo_prepare() {
    TIDEWELL_WEBFOLDER_PASSWORD=demo1234 "$SERVICE_BIN" adduser --data "$DEMO_HOME/service" --id demo \
        --name "데모 사용자" --days 365 --quota 1073741824 >/dev/null
    [ -e "$DEMO_HOME/.prepared" ] && return 0

    local scratch="$DEMO_HOME/tmp/branch"
    rm -rf "$scratch" "$DEMO_HOME/tmp/branch-config"
    "$MAKER_BIN" --name "강남 지점" --rows 3000 --seed 2 "$scratch" >/dev/null
    local key
    key=$(XDG_CONFIG_HOME="$DEMO_HOME/tmp/branch-config" demo_cli add "$scratch")
    XDG_CONFIG_HOME="$DEMO_HOME/tmp/branch-config" demo_cli upload "$key" 2>/dev/null
    rm -rf "$scratch" "$DEMO_HOME/tmp/branch-config"

    local shop="$DEMO_HOME/companies/본점"
    if [ ! -e "$shop/default.mdb" ]; then
        "$MAKER_BIN" --name "본점" --rows 5000 --seed 1 "$shop" >/dev/null
    fi
    key=$(demo_cli add "$shop")  # stores the company key in the database
    touch -d "2 days ago" "$shop/default.mdb"
    demo_cli upload "$key" 2>/dev/null
    touch "$shop/default.mdb"
    touch "$DEMO_HOME/.prepared"
    demo_log "demo companies made in $DEMO_HOME/companies and in the web folder"
}

# Waits until a window whose title matches appears; prints its id.
demo_wait_window() {
    timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | tail -n 1
}

# A picture of the screen where the main window's frame is, boxes over it included.
demo_shot_frame() {
    local window="$1" file="$2" frame
    frame=$(xwininfo -id "$window" -frame 2>/dev/null | awk '
        /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /Width:/ {w=$NF} /Height:/ {h=$NF} END {print w "x" h "+" x "+" y}')
    import -window root -crop "$frame" +repage "$file"
}

# Runs the window under Xvfb and the openbox window manager, logs in by typing as a person
# would, and saves two pictures into the given folder: the login panel and the logged-in list.
# DEMO_WINDOW is the window's id afterwards.
demo_headless_session() {
    local shots="$1"
    mkdir -p "$shots"
    local display=""
    for n in $(seq 90 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            display=":$n"
            break
        fi
    done
    [ -n "$display" ] || { demo_log "no free X display number"; exit 1; }
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X${display#:}" ] && break
        sleep 0.1
    done
    export DISPLAY="$display"
    openbox >/dev/null 2>&1 &
    WM_PID=$!
    for _ in $(seq 1 50); do
        wmctrl -m >/dev/null 2>&1 && break
        sleep 0.1
    done

    "$APP_BIN" >>"$DEMO_HOME/tidewell.log" 2>&1 &
    APP_PID=$!
    local window
    window=$(demo_wait_window "Quenlow")
    [ -n "$window" ] || { demo_log "the window did not appear; see $DEMO_HOME/tidewell.log"; exit 1; }
    DEMO_WINDOW="$window"
    sleep 1
    import -window "$window" "$shots/login.png"

    # Click into the ID field (the login block sits at the top of the design-size window),
    # then type as a person would. Points are taken inside the window, frame left out.
    xdotool mousemove --window "$window" 260 158 click 1
    xdotool type --delay 40 "demo"
    xdotool key Tab
    xdotool type --delay 40 "demo1234"
    xdotool key Return
    sleep 3
    # Rest the pointer on the first row so that it shows as the hot row.
    xdotool mousemove --window "$window" 150 107
    sleep 1
    import -window "$window" "$shots/list.png"
    demo_log "screenshots: $shots/login.png and $shots/list.png"
}

# After demo_headless_session: the progress panel of a transfer with its 취소 button (the
# service is held still meanwhile, and the transfer is stopped with Escape) and the delete
# question, answered 아니요. The held transfer may still reach the web folder once the
# service goes on: run it on a demo made for the session.
demo_transfer_shots() {
    local shots="$1" window="$DEMO_WINDOW"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # 본점 alone: 강남 지점 has no folder here yet.
    xdotool mousemove --window "$window" 54 106 click 1
    kill -STOP "$SERVICE_PID"
    xdotool mousemove --window "$window" $((WIDTH / 2)) $((HEIGHT - 20)) click 1
    sleep 2
    import -window "$window" "$shots/progress.png"
    xdotool key Escape
    kill -CONT "$SERVICE_PID"
    sleep 2

    # The delete question for the checked companies.
    xdotool mousemove --window "$window" 84 $((HEIGHT - 21)) click 1
    sleep 1
    demo_shot_frame "$window" "$shots/delete.png"
    xdotool key Escape
    sleep 1
    demo_log "screenshots: $shots/progress.png and $shots/delete.png"
}
