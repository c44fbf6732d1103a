# Helpers for running the Windows programs under Wine against the modem simulator.
# Sourced by scripts/test-windows; expects root (the checkout), work (this run's scratch
# folder), native_bin (korvan-modem-sim, korvan-image) and win_bin (the .exe files).

wine_timeout=90

log() { echo "test-windows: $*"; }

# A fresh 64-bit prefix for this run (build/wineprefix unless wine_prefix names another),
# without Mono/Gecko prompts, without menu entries on the host for the shortcuts programs
# make, with real fonts and unmanaged windows (there is no window manager under Xvfb).
#
# COM ports: at every start Wine's serial driver points dosdevices/comN at the host's
# serial devices (COM1 at /dev/ttyS0, the kernel console here) unless HKLM\Software\Wine\Ports
# names a path for COMn. So each of COM1..COM10 is pinned there to a link of our own,
# $work/com/comN, which each case points at the simulator's pty or at nothing. The host's
# devices then take the next free numbers, where a directory stands in the way of their
# links: Wine registers no port it cannot link, so the programs, which open every port the
# registry lists, never see them.
test_com_ports=(1 2 3 4 5 6 7 8 9 10)
make_wine_prefix() {
    export WINEPREFIX="${wine_prefix:-$root/build/wineprefix}" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    rm -rf "$WINEPREFIX"
    mkdir -p "$work/com"
    timeout 120 wineboot -i >"$work/wineboot.log" 2>&1
    timeout 60 wineserver -w
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    {
        echo 'REGEDIT4'
        echo
        echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
        echo '"Managed"="N"'
        echo
        echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
        local n
        for n in "${test_com_ports[@]}"; do
            echo "\"COM$n\"=\"$work/com/com$n\""
        done
    } >"$work/settings.reg"
    local windows_path="Z:${work//\//\\}\\settings.reg"
    timeout 60 wine reg import "$windows_path" >>"$work/wineboot.log" 2>&1
    timeout 60 wineserver -k || true
    timeout 60 wineserver -w
    map_com_ports
    block_host_serial_ports
    # One start of Wine with the new settings lets its serial driver lay out the links.
    timeout 60 wine cmd /c exit >>"$work/wineboot.log" 2>&1
    timeout 60 wineserver -w
    check_com_ports
}

# Puts a directory where Wine would link each of the host's serial devices: the numbers
# after the pinned ones, one per device Wine could find.
block_host_serial_ports() {
    local count=0 device n=${#test_com_ports[@]}
    for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
        [[ -e "$device" ]] || continue
        count=$((count + 1))
        rm -f "$WINEPREFIX/dosdevices/com$((n + count))"
        mkdir -p "$WINEPREFIX/dosdevices/com$((n + count))"
    done
}

# Points COM<port> at device and every other COM port at a path that does not exist.
map_com_ports() {
    local port=${1:-0} device=${2:-}
    local n
    for n in "${test_com_ports[@]}"; do
        ln -sfn "/nonexistent/korvan-com$n" "$work/com/com$n"
        ln -sfn "$work/com/com$n" "$WINEPREFIX/dosdevices/com$n"
    done
    if [[ -n "$device" ]]; then
        ln -sfn "$device" "$work/com/com$port"
    fi
}

# Refuses to go on if any COM port leads to a host serial device.
check_com_ports() {
    local link target
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [[ -L "$link" ]] || continue
        target=$(readlink -m "$link")
        if [[ "$target" == /dev/ttyS* || "$target" == /dev/ttyUSB* ||
            "$target" == /dev/ttyACM* ]]; then
            log "${link##*/} leads to $target: stopping before anything opens it"
            exit 2
        fi
    done
}

# wineserver makes the simulator's pty its controlling terminal and floods its log when the
# pty hangs up, so it is started here with its log in a file and stopped before the simulator.
start_wineserver() {
    check_com_ports
    wineserver -p 60 2>>"$work/wineserver.log"
}
stop_wineserver() {
    timeout 20 wineserver -k 2>/dev/null || true
    timeout 20 wineserver -w 2>/dev/null || true
    check_com_ports
}

sim_pids=()
# start_sim NAME [simulator options...]: starts a simulator, sets sim_device to its pty.
# stop_sim stops every simulator started so far.
start_sim() {
    local name=$1
    shift
    rm -f "$work/$name.sim.out"
    "$native_bin/korvan-modem-sim" --erase-ms 100 "$@" >"$work/$name.sim.out" \
        2>"$work/$name.sim.err" &
    sim_pids+=($!)
    local tries=0
    while [[ ! -s "$work/$name.sim.out" ]] && ((tries < 100)); do
        sleep 0.05
        tries=$((tries + 1))
    done
    sim_device=$(head -n 1 "$work/$name.sim.out")
    [[ -c "$sim_device" ]]
}

stop_sim() {
    local pid
    for pid in "${sim_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    sim_pids=()
}

xvfb_pid=""
start_xvfb() {
    local n
    for n in $(seq 70 99); do
        if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
            break
        fi
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -extension GLX -ardelay 65000 -arinterval 65000 >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    local tries=0
    until xdpyinfo >/dev/null 2>&1; do
        tries=$((tries + 1))
        if ((tries > 100)); then
            return 1
        fi
        sleep 0.1
    done
}

stop_xvfb() {
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}

bell_pid=""
# start_bell_watch FILE: from now on a line "bell" in FILE for every bell rung on the display:
# under Wine a program's MessageBeep, whatever its kind, is one.
start_bell_watch() {
    "$native_bin/bell_watch" >"$1" 2>&1 &
    bell_pid=$!
    wait_for_file_lines "$1" "^ready" 1 10
}
stop_bell_watch() {
    if [[ -n "$bell_pid" ]]; then
        kill "$bell_pid" 2>/dev/null || true
        wait "$bell_pid" 2>/dev/null || true
        bell_pid=""
    fi
}

cleanup() {
    stop_bell_watch
    stop_wineserver
    stop_sim
    stop_xvfb
}

# wait_for_window TITLE SECONDS: prints the X window id of the visible top-level window.
wait_for_window() {
    local title=$1 seconds=$2
    local deadline=$((SECONDS + seconds)) id
    while ((SECONDS < deadline)); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# wait_for_exit PID SECONDS: true once the process has ended.
wait_for_exit() {
    local pid=$1 seconds=$2
    local deadline=$((SECONDS + seconds))
    while ((SECONDS < deadline)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# wait_for_file_lines FILE PATTERN COUNT SECONDS: true once FILE has COUNT lines matching.
wait_for_file_lines() {
    local file=$1 pattern=$2 count=$3 seconds=$4
    local deadline=$((SECONDS + seconds))
    while ((SECONDS < deadline)); do
        if [[ -f "$file" ]] && (($(grep -c -- "$pattern" "$file" || true) >= count)); then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# press_keys WINDOW KEY...: gives WINDOW the X input focus (there is no window manager) and
# presses the keys as a real keyboard would; Wine hands them to the focused Win32 control.
press_keys() {
    local window=$1
    shift
    timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --delay 50 "$@"
}

# type_text WINDOW TEXT: types TEXT into WINDOW's focused control.
type_text() {
    local window=$1 text=$2
    timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool type --delay 50 "$text"
}

# screenshot WINDOW FILE: the window's area of the screen (Wine draws the frame itself).
screenshot() {
    local window=$1 file=$2
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -silent -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
}

# click_dialog_point WINDOW X_DLU Y_DLU CLIENT_WIDTH_DLU CLIENT_HEIGHT_DLU: clicks a point
# given in dialog units, scaled to the window's client area (caption and frame measured
# on Wine's own unmanaged frame: 3 pixels of border, 18 of caption).
click_dialog_point() {
    local window=$1 x_dlu=$2 y_dlu=$3 width_dlu=$4 height_dlu=$5
    eval "$(xdotool getwindowgeometry --shell "$window")"
    local border=3 caption=18
    local client_width=$((WIDTH - 2 * border))
    local client_height=$((HEIGHT - 2 * border - caption))
    local x=$((X + border + client_width * x_dlu / width_dlu))
    local y=$((Y + border + caption + client_height * y_dlu / height_dlu))
    xdotool mousemove "$x" "$y" click 1
}
