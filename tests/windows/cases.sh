# The Wine test cases, sourced by scripts/test-windows after harness.sh. Each case runs in
# its own folder under $work and returns non-zero with a reason on the first failed check.

fail() {
    log "  FAILED: $*"
    return 1
}

# The image every case downloads and the checksum total the completion message must show.
make_image() {
    "$native_bin/korvan-image" make "$work/image.dl" >/dev/null
    image_checksum=$("$native_bin/korvan-image" checksum "$work/image.dl")
}

# start_window DIR: starts the window program in DIR; sets gui_pid. Its exit status, the
# result the progress window ended with, lands in DIR/window.result.
start_window() {
    local dir=$1
    (
        cd "$dir" || exit 1
        status=0
        timeout "$wine_timeout" wine "$win_bin/korvan-download.exe" >gui.out 2>gui.err ||
            status=$?
        echo "$status" >window.result
    ) &
    gui_pid=$!
}

window_result_is() {
    local dir=$1 expected=$2 result
    result=$(cat "$dir/window.result" 2>/dev/null || echo none)
    [[ "$result" == "$expected" ]] || fail "window ended with $result, expected $expected"
}

# flash_matches_image DIR: the records the simulator was given equal the image, byte for byte.
flash_matches_image() {
    cmp -s "$1/image.dl" "$1/flash.bin" || fail "flashed records differ from the image"
}

# run_cli DIR OUT ARGUMENT...: the console program in DIR, what it prints in DIR/OUT and its
# errors in DIR/OUT.err; returns its exit status.
run_cli() {
    local dir=$1 out=$2
    shift 2
    (cd "$dir" && timeout "$wine_timeout" wine "$win_bin/korvan-download-cli.exe" "$@" \
        >"$out" 2>"$out.err")
}

# last_line FILE: the last line the program wrote there, without its CR.
last_line() {
    tr -d '\r' <"$1" | tail -n 1
}

# sim_on N NAME [simulator options...]: a simulator behind COMn (map_com_ports first points
# every port at nothing).
sim_on() {
    local port=$1
    shift
    start_sim "$@" || fail "simulator $1 did not start" || return 1
    ln -sfn "$sim_device" "$work/com/com$port"
}

case_folder() {
    local folder="$work/$1"
    mkdir -p "$folder"
    cp "$work/image.dl" "$folder/image.dl"
    echo "$folder"
}

# The serial driver over the Win32 API itself: a missing COM1, and COM9 (index 8) on the
# simulator: open, refused rate, reads with nothing waiting, an AT exchange, dump, close.
case_driver_checks() {
    local dir
    dir=$(case_folder driver_checks)
    # The line is left as a fresh pty has it, XON/XOFF on, and the modem stops it with XOFF.
    start_sim driver_checks --keep-line-modes --xoff-on-configure --log "$dir/sim.log" ||
        fail "simulator did not start" || return 1
    map_com_ports 9 "$sim_device"
    start_wineserver
    local status=0
    (cd "$dir" && timeout "$wine_timeout" wine "$win_bin/serial-driver-check.exe" \
        >checks.out 2>checks.err) || status=$?
    stop_wineserver
    stop_sim
    tr -d '\r' <"$dir/checks.out" | grep '^FAILED' | sed 's/^/test-windows:   /' || true
    ((status == 0)) || fail "serial driver checks exited with $status" || return 1
}

# The console program finds the modem on COM4 (COM3, searched first, is missing), takes the
# image from .\modems.cfg and writes every record unchanged.
case_cli_full_run() {
    local dir status last
    dir=$(case_folder cli_full_run)
    cli_run "$dir" cli_full_run || return 1
    cli_completed "$dir"
}

# cli_run DIR SIM_NAME SIM_OPTIONS...: the console program in DIR against the simulator on
# COM4; sets status and last (its last line of output).
cli_run() {
    local dir=$1 name=$2
    shift 2
    cp "$root/tests/windows/modems.cfg" "$dir/"
    start_sim "$name" --flash-out "$dir/flash.bin" "$@" || fail "simulator did not start" ||
        return 1
    map_com_ports 4 "$sim_device"
    start_wineserver
    status=0
    run_cli "$dir" cli.out || status=$?
    stop_wineserver
    stop_sim
    last=$(last_line "$dir/cli.out")
}

# cli_completed DIR: after cli_run, the console program exited with 0, its last line says the
# download is complete, and every record reached the modem unchanged.
cli_completed() {
    ((status == 0)) || fail "exit status $status, expected 0 (last line '$last')" || return 1
    [[ "$last" == "Download complete!  ($image_checksum)" ]] ||
        fail "last line '$last', expected 'Download complete!  ($image_checksum)'" || return 1
    flash_matches_image "$1"
}

# A line nobody set up has XON/XOFF on; the configure reply then carries 0x11 and 0x13 (in
# its context word, which every later packet repeats). The download completes all the same.
case_cli_xon_xoff_line() {
    local dir status last
    dir=$(case_folder cli_xon_xoff_line)
    cli_run "$dir" cli_xon_xoff_line --keep-line-modes --context-word 4881 || return 1
    cli_completed "$dir"
}

# The modem answers the configure packet with XOFF and then nothing: the search ends with
# its failure message instead of hanging.
case_cli_xoff_stall() {
    local dir status last started=$SECONDS
    dir=$(case_folder cli_xoff_stall)
    cli_run "$dir" cli_xoff_stall --keep-line-modes --xoff-on-configure || return 1
    ((status == 1)) || fail "exit status $status, expected 1 (last line '$last')" || return 1
    [[ "$last" == "Could not configure modem!" ]] ||
        fail "last line '$last', expected 'Could not configure modem!'" || return 1
    log "  ended after $((SECONDS - started)) s"
}

# With no modem on any port the console program says so and exits with 1.
case_cli_no_modem() {
    local dir
    dir=$(case_folder cli_no_modem)
    map_com_ports
    start_wineserver
    local status=0
    run_cli "$dir" cli.out --image image.dl || status=$?
    stop_wineserver
    ((status == 1)) || fail "exit status $status, expected 1" || return 1
    local last
    last=$(last_line "$dir/cli.out")
    [[ "$last" == "Could not configure modem!" ]] ||
        fail "last line '$last', expected 'Could not configure modem!'" || return 1

    # --port names a Windows port; anything else is a usage error, opened nowhere.
    start_wineserver
    status=0
    run_cli "$dir" port.out --port COM7 --image image.dl || status=$?
    local usage_status=0
    run_cli "$dir" usage.out --port modem --image image.dl || usage_status=$?
    stop_wineserver
    last=$(last_line "$dir/port.out")
    ((status == 1)) && [[ "$last" == "Could not configure modem!" ]] ||
        fail "--port COM7: status $status, last line '$last'" || return 1
    ((usage_status == 64)) || fail "--port modem: status $usage_status, expected 64" ||
        return 1
}

# Two modems at once, one child process per port: COM3 completes, COM4 fails at record 100;
# the report holds one object per port and the exit status says not every port completed.
case_cli_two_port_batch() {
    local dir
    dir=$(case_folder cli_two_port_batch)
    map_com_ports
    sim_on 3 two_port_com3 --flash-out "$dir/flash.bin" || return 1
    sim_on 4 two_port_com4 --wrong-tag 100 || return 1
    start_wineserver
    local status=0
    run_cli "$dir" cli.out --ports COM3,COM4 --image image.dl --report report.jsonl ||
        status=$?
    stop_wineserver
    stop_sim
    ((status == 1)) || fail "exit status $status, expected 1" || return 1
    local objects
    objects=$(wc -l <"$dir/report.jsonl")
    ((objects == 2)) || fail "$objects report objects, expected 2" || return 1
    grep -q '"port":"COM3".*"result":"complete".*"records":224' "$dir/report.jsonl" ||
        fail "COM3 not reported complete" || return 1
    grep -q '"port":"COM4".*"result":"failed","message":"Could not program modem!"' \
        "$dir/report.jsonl" || fail "COM4 not reported failed" || return 1
    # Who flashed which image bytes: the machine's name and the image's SHA-256.
    local sha256
    sha256=$(sha256sum "$dir/image.dl" | cut -d ' ' -f 1)
    grep -q "\"port\":\"COM3\".*\"host\":\"[^\"]\+\".*\"image_sha256\":\"$sha256\"" \
        "$dir/report.jsonl" || fail "COM3's report line lacks the host or the image's SHA-256" ||
        return 1
    flash_matches_image "$dir" || return 1
}

# A station killed mid-download: its download runs detached from the station and the
# console, finishes the flash and still appends its own report line.
case_cli_station_gone() {
    local dir station tries runner
    dir=$(case_folder cli_station_gone)
    # Paced, so that the station can be killed among the records.
    start_sim station_gone --line-rate 230400 --log "$dir/sim.log" \
        --flash-out "$dir/flash.bin" || fail "simulator did not start" || return 1
    map_com_ports 3 "$sim_device"
    start_wineserver
    # Quiet: its shell would tell of the kill.
    run_cli "$dir" cli.out --ports COM3 --image image.dl --report report.jsonl 2>/dev/null &
    runner=$!
    tries=0
    until grep -q "^record 20 " "$dir/sim.log" 2>/dev/null || ((tries > 1200)); do
        sleep 0.05
        tries=$((tries + 1))
    done
    # The station: Wine shows it under its Unix path, its download under a Windows one.
    station=$(pgrep -f "^$win_bin/korvan-download-cli\.exe --ports" | head -n 1)
    [[ -n "$station" ]] && kill -KILL "$station"
    tries=0
    until [[ -s "$dir/report.jsonl" ]] || ((tries > 1200)); do
        sleep 0.05
        tries=$((tries + 1))
    done
    stop_wineserver
    stop_sim
    wait "$runner" 2>/dev/null || true
    [[ -n "$station" ]] || fail "no station process found" || return 1
    grep -q "Download complete" "$dir/cli.out" && fail "the station was not killed" && return 1
    grep -q '"port":"COM3".*"result":"complete".*"records":224' "$dir/report.jsonl" ||
        fail "no complete report line after the station was killed" || return 1
    flash_matches_image "$dir" || return 1
}

# Names that lead nowhere and files named twice: --ports COM6, where COM6 leads nowhere, is
# that port's own failure and never a search of every port (the modem on COM3 is sent
# nothing; Wine registers COM6 all the same, so its open is what fails); a trace naming the
# image is a usage error that leaves the image whole.
case_cli_names_and_files() {
    local dir
    dir=$(case_folder cli_names_and_files)
    cp "$dir/image.dl" "$dir/image.before"
    start_sim names_and_files --log "$dir/sim.log" || fail "simulator did not start" ||
        return 1
    map_com_ports 3 "$sim_device"
    start_wineserver
    local ports_status=0 trace_status=0
    run_cli "$dir" ports.out --ports COM6 --image image.dl --report report.jsonl ||
        ports_status=$?
    run_cli "$dir" trace.out --port COM3 --image image.dl --trace image.dl || trace_status=$?
    stop_wineserver
    stop_sim
    ((ports_status == 1)) || fail "--ports COM6 exited with $ports_status, expected 1" ||
        return 1
    grep -Eq '^\{"port":"COM6",.*"result":"(failed|no modem)"' "$dir/report.jsonl" ||
        fail "COM6 not reported failed: $(cat "$dir/report.jsonl")" || return 1
    ((trace_status == 64)) || fail "--trace image.dl exited with $trace_status, expected 64" ||
        return 1
    cmp -s "$dir/image.before" "$dir/image.dl" || fail "the image was written" || return 1
    [[ ! -s "$dir/sim.log" ]] || fail "the modem on COM3 was sent: $(head -c 200 "$dir/sim.log")"
}

# import_registry FILE: adds a .reg file's keys to the prefix's registry.
import_registry() {
    local windows_path="Z:${1//\//\\}"
    timeout 60 wine reg import "$windows_path" >>"$work/registry.log" 2>&1
}

# The adapters port_devices.reg adds, taken away again so that no other case meets them.
remove_port_devices() {
    local key
    for key in 'FTDIBUS\VID_0403+PID_6001+A50285BIA' 'USB\VID_2C7C&PID_0125'; do
        timeout 60 wine reg delete "HKLM\\System\\CurrentControlSet\\Enum\\$key" /f \
            >>"$work/registry.log" 2>&1 || true
    done
}

# check_port_list_json FILE: the JSON listing holds COM1..COM10 (the host's own serial
# device is registered nowhere), each with a state, and port_devices.reg's two adapters; the
# filter it was made with (the COM3 adapter's serial number) keeps COM3 alone.
check_port_list_json() {
    python3 - "$1" <<'PYTHON'
import json, sys
ports = {row["port"]: row for row in json.load(open(sys.argv[1]))["ports"]}
problems = []
def expect(port, key, value):
    if ports.get(port, {}).get(key) != value:
        problems.append(f"{port} {key}: {ports.get(port, {}).get(key)!r}, expected {value!r}")
if list(ports) != [f"COM{n}" for n in range(1, 11)]:
    problems.append(f"ports {list(ports)}, expected COM1..COM10")
for port, row in ports.items():
    if row.get("state") not in ("free", "in_use", "missing", "unusable") or not row.get("state_text"):
        problems.append(f"{port} has no state: {row.get('state')!r} {row.get('state_text')!r}")
for key, value in {"state": "free", "searched": True, "driver": "FTDIBUS", "vendor_id": "0403",
                   "product_id": "6001", "serial": "A50285BI", "latency_timer_ms": 16,
                   "description": "USB Serial Port \x1b[2J (COM3)", "kept_by_filter": True}.items():
    expect("COM3", key, value)
for key, value in {"state": "free", "searched": False, "not_searched_because": "beyond_com9",
                   "driver": "usbser", "vendor_id": "2c7c", "product_id": "0125",
                   "serial": "SER10", "latency_timer_ms": None, "kept_by_filter": False}.items():
    expect("COM10", key, value)
if any(row.get("kept_by_filter") for port, row in ports.items() if port != "COM3"):
    problems.append("the filter keeps a port other than COM3")
# COM1 leads nowhere: whatever Wine says of it, it is not free.
if ports.get("COM1", {}).get("state") == "free":
    problems.append("COM1, which leads nowhere, is listed free")
print("; ".join(problems))
sys.exit(1 if problems else 0)
PYTHON
}

# The port list comes from the registry's serial map, with what the device manager knows of
# each adapter (a terminal escape in a name shown escaped, the FTDI latency timer), and
# --port-filter picks adapters by those ids. --all-ports takes the registry's ports: limited
# to the COM10 adapter's ids it flashes the modem there, beyond the plain search of
# COM1..COM9, and sends nothing to the modem on COM3.
case_cli_port_list() {
    local dir
    dir=$(case_folder cli_port_list)
    map_com_ports
    sim_on 3 port_list_com3 --log "$dir/com3.log" || return 1
    sim_on 10 port_list_com10 --flash-out "$dir/flash.bin" || return 1
    start_wineserver
    import_registry "$root/tests/windows/port_devices.reg"
    local json_status=0 text_status=0 all_status=0
    run_cli "$dir" ports.json --list-ports --json --port-filter vid=0403,serial=A50285BI ||
        json_status=$?
    run_cli "$dir" ports.txt --list-ports || text_status=$?
    run_cli "$dir" all.out --all-ports --port-filter vid=2c7c,pid=0125 --image image.dl \
        --report report.jsonl || all_status=$?
    remove_port_devices
    stop_wineserver
    stop_sim
    ((json_status == 0 && text_status == 0)) ||
        fail "--list-ports exited with $json_status (--json) and $text_status" || return 1
    local problems
    problems=$(check_port_list_json "$dir/ports.json") ||
        fail "--list-ports --json: $problems" || return 1
    ! grep -q $'\x1b' "$dir/ports.txt" "$dir/ports.json" ||
        fail "the listing shows a device's terminal escape raw" || return 1
    grep -q '^COM3 .*USB Serial Port \\x1b\[2J (COM3) .*FTDIBUS .*0403:6001 serial A50285BI .*16 ms .*free' \
        "$dir/ports.txt" || fail "no COM3 row in: $(tr -d '\r' <"$dir/ports.txt")" || return 1
    grep -q '^COM3: its driver holds received bytes for up to 16 ms' "$dir/ports.txt" ||
        fail "no advice on COM3's latency timer" || return 1
    ((all_status == 0)) || fail "--all-ports exited with $all_status, expected 0" || return 1
    (($(wc -l <"$dir/report.jsonl") == 1)) &&
        grep -q '"port":"COM10".*"result":"complete".*"records":224' "$dir/report.jsonl" ||
        fail "--all-ports did not flash COM10 alone: $(cat "$dir/report.jsonl")" || return 1
    [[ ! -s "$dir/com3.log" ]] || fail "the modem on COM3 was sent: $(head -c 200 "$dir/com3.log")" ||
        return 1
    flash_matches_image "$dir" || return 1
}

# The window runs a whole download. While it runs, Escape, Alt+F4 and a click on the (still
# disabled) Exit button are all refused; once it has ended a click on Exit closes it.
case_gui_full_run() {
    local dir
    dir=$(case_folder gui_full_run)
    cp "$root/tests/windows/modems.cfg" "$dir/"
    start_sim gui_full_run --flash-out "$dir/flash.bin" --log "$dir/sim.log" ||
        fail "simulator did not start" || return 1
    map_com_ports 2 "$sim_device"
    start_wineserver
    start_window "$dir"
    local window
    window=$(wait_for_window "Korvan Download Utility" 30) || fail "no progress window" ||
        return 1
    wait_for_file_lines "$dir/sim.log" "^record " 60 40 || fail "programming did not start" ||
        return 1
    screenshot "$window" "$work/screenshots/progress-window-programming.png"
    press_keys "$window" Escape
    press_keys "$window" alt+F4
    click_dialog_point "$window" 95 47 187 61
    sleep 0.5
    kill -0 "$gui_pid" 2>/dev/null ||
        fail "Escape, Alt+F4 or a click on Exit ended the window during the run" || return 1
    wait_for_file_lines "$dir/sim.log" "^AT ATZ" 1 40 || fail "the run did not reach the reset" ||
        return 1
    sleep 1.5
    kill -0 "$gui_pid" 2>/dev/null || fail "window ended before the user left it" || return 1
    screenshot "$window" "$work/screenshots/progress-window-complete.png"
    click_dialog_point "$window" 95 47 187 61
    wait_for_exit "$gui_pid" 15 || fail "a click on Exit did not end the window" || return 1
    window_result_is "$dir" 2 || return 1
    stop_wineserver
    stop_sim
    flash_matches_image "$dir" || return 1
}

# cpu_ticks PID: the CPU time the process has used so far, in clock ticks.
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# window_program_pid: the process of the running korvan-download.exe itself (not the
# timeout and wine commands that started it).
window_program_pid() {
    local pid
    for pid in $(pgrep -f "korvan-download.exe" || true); do
        if [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == korvan-download* ]]; then
            echo "$pid"
            return 0
        fi
    done
    return 1
}

# The modem never confirms the erase, so the step waits twice 10 s for it. During the wait
# the window refuses to close and stays cheap; Exit stays disabled until the failure is
# reported, and then a click on it ends the window.
case_gui_erase_wait() {
    local dir
    dir=$(case_folder gui_erase_wait)
    cp "$root/tests/windows/modems.cfg" "$dir/"
    start_sim gui_erase_wait --no-erase-confirm --log "$dir/sim.log" ||
        fail "simulator did not start" || return 1
    map_com_ports 3 "$sim_device"
    start_wineserver
    start_window "$dir"
    local window pid
    window=$(wait_for_window "Korvan Download Utility" 30) || fail "no progress window" ||
        return 1
    wait_for_file_lines "$dir/sim.log" "^erase" 1 40 || fail "the erase was not sent" ||
        return 1
    pid=$(window_program_pid) || fail "no korvan-download.exe process" || return 1
    sleep 0.5
    local ticks_per_second before busy
    ticks_per_second=$(getconf CLK_TCK)
    before=$(cpu_ticks "$pid")
    sleep 2
    busy=$(($(cpu_ticks "$pid") - before))
    log "  window program during the wait: $busy CPU ticks in 2 s ($ticks_per_second a second)"
    ((busy * 2 < ticks_per_second)) ||
        fail "waiting for the modem used $busy CPU ticks in 2 s" || return 1
    press_keys "$window" alt+F4
    sleep 0.5
    kill -0 "$gui_pid" 2>/dev/null || fail "Alt+F4 ended the window during the wait" ||
        return 1

    wait_for_file_lines "$dir/sim.log" "^erase" 2 20 || fail "the erase was not sent again" ||
        return 1
    local second_erase=$SECONDS
    until ! kill -0 "$gui_pid" 2>/dev/null || ((SECONDS - second_erase > 20)); do
        click_dialog_point "$window" 95 47 187 61
        sleep 1
    done
    ((SECONDS - second_erase >= 9)) ||
        fail "Exit ended the window $((SECONDS - second_erase)) s after the second erase" ||
        return 1
    wait_for_exit "$gui_pid" 5 || fail "a click on Exit did not end the window" || return 1
    window_result_is "$dir" 2 || return 1
}

# With no modems.cfg the window asks for the download file. OK on the empty field is
# refused and the prompt stays; Browse opens the Open dialog, whose choice fills the field;
# OK then takes it, the download completes, and Return on the default button (Exit) ends
# the window.
case_gui_prompt() {
    local dir
    dir=$(case_folder gui_prompt)
    start_sim gui_prompt --flash-out "$dir/flash.bin" --log "$dir/sim.log" ||
        fail "simulator did not start" || return 1
    map_com_ports 3 "$sim_device"
    start_wineserver
    start_window "$dir"
    local window prompt chooser
    window=$(wait_for_window "Korvan Download Utility" 30) || fail "no progress window" ||
        return 1
    prompt=$(wait_for_window "Specify Download File" 30) || fail "no download file prompt" ||
        return 1
    sleep 0.5
    screenshot "$prompt" "$work/screenshots/download-file-prompt.png"
    click_dialog_point "$prompt" 32 32 186 46  # OK, with the field still empty
    sleep 0.5
    xdotool search --onlyvisible --name "^Specify Download File\$" >/dev/null ||
        fail "OK with an empty path closed the prompt" || return 1
    click_dialog_point "$prompt" 154 32 186 46  # Browse...
    chooser=$(wait_for_window "Open" 20) || fail "Browse opened no file dialog" || return 1
    sleep 1
    screenshot "$chooser" "$work/screenshots/open-file-dialog.png"
    type_text "$chooser" "image.dl"
    press_keys "$chooser" Return
    sleep 1
    if xdotool search --onlyvisible --name "^Open\$" >/dev/null; then
        fail "the file dialog stayed open"
        return 1
    fi
    screenshot "$prompt" "$work/screenshots/download-file-prompt-browsed.png"
    press_keys "$prompt" Return
    wait_for_file_lines "$dir/sim.log" "^AT ATZ" 1 40 || fail "the run did not complete" ||
        return 1
    sleep 1.5
    kill -0 "$gui_pid" 2>/dev/null || fail "window ended before the user left it" || return 1
    press_keys "$window" Return
    wait_for_exit "$gui_pid" 15 || fail "Return on Exit did not end the window" || return 1
    window_result_is "$dir" 2 || return 1
    stop_wineserver
    stop_sim
    flash_matches_image "$dir" || return 1
}

# Cancelling the download file prompt ends the program at once, before anything is erased.
case_gui_prompt_cancel() {
    local dir
    dir=$(case_folder gui_prompt_cancel)
    start_sim gui_prompt_cancel --log "$dir/sim.log" || fail "simulator did not start" ||
        return 1
    map_com_ports 1 "$sim_device"
    start_wineserver
    start_window "$dir"
    local prompt
    prompt=$(wait_for_window "Specify Download File" 40) || fail "no download file prompt" ||
        return 1
    sleep 0.5
    press_keys "$prompt" Escape
    wait_for_exit "$gui_pid" 15 || fail "cancelling the prompt did not end the program" ||
        return 1
    window_result_is "$dir" 2 || return 1
    stop_wineserver
    stop_sim
    ! grep -q "^erase" "$dir/sim.log" || fail "the modem was erased after the prompt's Cancel" ||
        return 1
}

# start_station DIR OPTION...: starts the station window program in DIR; sets gui_pid. Its
# exit status lands in DIR/window.result.
start_station() {
    local dir=$1
    shift
    (
        cd "$dir" || exit 1
        status=0
        timeout "$wine_timeout" wine "$win_bin/korvan-station.exe" "$@" >station.out \
            2>station.err || status=$?
        echo "$status" >window.result
    ) &
    gui_pid=$!
}

# wait_for_other_window TITLE WINDOW SECONDS: a visible top-level window titled TITLE other
# than WINDOW (a message box of the window's own, which carries its title).
wait_for_other_window() {
    local title=$1 window=$2 seconds=$3
    local deadline=$((SECONDS + seconds)) id
    while ((SECONDS < deadline)); do
        for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null || true); do
            if [[ "$id" != "$window" ]]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.2
    done
    return 1
}

# report_line_count DIR: lines in DIR/report.jsonl so far.
report_line_count() {
    if [[ -f "$1/report.jsonl" ]]; then
        wc -l <"$1/report.jsonl"
    else
        echo 0
    fi
}

# The station window flashes two modems, COM3 at full speed and COM4 paced. With COM4 still
# flashing, Alt+F4 asks whether to quit once the flashes are done: No keeps the station
# running; Yes leaves the window up until COM4's flash has finished, and then it exits with
# 0; the report holds both complete lines. A station with nothing running closes at once.
case_station_window() {
    local dir window
    dir=$(case_folder station_window)
    map_com_ports
    sim_on 3 station_com3 --flash-out "$dir/flash.bin" || return 1
    sim_on 4 station_com4 --line-rate 115200 --log "$dir/sim4.log" \
        --flash-out "$dir/flash4.bin" || return 1
    run_station "$dir" station_window_closes_after_flash --ports COM3,COM4 --image image.dl \
        --report report.jsonl || return 1
    local lines
    lines=$(report_line_count "$dir")
    ((lines == 2)) || fail "$lines report lines, expected 2" || return 1
    reported_complete "$dir" COM3 && reported_complete "$dir" COM4 || return 1
    flash_matches_image "$dir" || return 1
    cmp -s "$dir/image.dl" "$dir/flash4.bin" || fail "COM4's flashed records differ" || return 1

    # Nothing running (there is no COM20, so the station only waits): Alt+F4 closes at once.
    local idle
    idle=$(case_folder station_window_idle)
    start_wineserver
    start_station "$idle" --ports COM20 --image image.dl
    window=$(wait_for_window "Korvan Download Station" 30) || fail "no idle station window" ||
        return 1
    sleep 1
    press_keys "$window" alt+F4
    wait_for_exit "$gui_pid" 10 || fail "the idle station did not close at once" || return 1
    stop_wineserver
    window_result_is "$idle" 0 || return 1
}

# run_station DIR CHECK OPTION...: the station window in DIR with OPTION..., and CHECK DIR
# while it runs; then Wine and the simulators are stopped. Fails as CHECK did, or when the
# window did not end with 0.
run_station() {
    local dir=$1 check=$2
    shift 2
    start_wineserver
    start_station "$dir" "$@"
    "$check" "$dir"
    local checked=$?
    stop_wineserver
    stop_sim
    ((checked == 0)) && window_result_is "$dir" 0
}

reported_complete() {
    local dir=$1 port=$2
    grep -q "\"port\":\"$port\".*\"result\":\"complete\".*\"records\":224" "$dir/report.jsonl" ||
        fail "$port not reported complete"
}

# The window part of case_station_window: refuses, then accepts, a close mid-flash.
station_window_closes_after_flash() {
    local dir=$1 window question
    window=$(wait_for_window "Korvan Download Station" 30) || fail "no station window" ||
        return 1
    wait_for_file_lines "$dir/sim4.log" "^record " 40 60 || fail "COM4 is not programming" ||
        return 1
    wait_for_file_lines "$dir/report.jsonl" '"port":"COM3"' 1 30 ||
        fail "COM3's flash was not reported" || return 1
    screenshot "$window" "$work/screenshots/station-window-flashing.png"

    press_keys "$window" alt+F4
    question=$(wait_for_other_window "Korvan Download Station" "$window" 10) ||
        fail "Alt+F4 mid-flash asked nothing" || return 1
    sleep 0.5
    screenshot "$question" "$work/screenshots/station-window-close-question.png"
    press_keys "$question" n
    sleep 1
    kill -0 "$gui_pid" 2>/dev/null || fail "No to the question ended the station" || return 1

    press_keys "$window" alt+F4
    question=$(wait_for_other_window "Korvan Download Station" "$window" 10) ||
        fail "the second Alt+F4 asked nothing" || return 1
    press_keys "$question" Return
    sleep 1
    kill -0 "$gui_pid" 2>/dev/null || fail "the station quit before COM4's flash was done" ||
        return 1
    (($(report_line_count "$dir") == 1)) || fail "COM4 ended before the close was tested" ||
        return 1
    screenshot "$window" "$work/screenshots/station-window-closing.png"
    wait_for_exit "$gui_pid" 60 || fail "the station did not quit after the flash" || return 1
}

# download_children: the station's downloads running now (Wine shows them under a Windows
# path).
download_children() {
    pgrep -f 'korvan-download-cli\.exe --port ' || true
}

# wait_for_no_download SECONDS: true once the station runs no download.
wait_for_no_download() {
    local deadline=$((SECONDS + $1))
    while ((SECONDS < deadline)); do
        [[ -z "$(download_children)" ]] && return 0
        sleep 0.2
    done
    return 1
}

# The station watching two ports with --port-filter vid=0403: it keeps COM3, port_devices.reg's
# FTDI adapter, and leaves out COM4, whose modem is sent nothing. COM3's first modem never
# answers, so the station tries it again every few seconds; Pause stops that, and a modem that
# does answer, put there meanwhile, is flashed only after Resume. Its report line names the
# adapter its tile shows, and the one outcome beeps once (Wine rings the same bell for every
# kind of beep, so a failure's own beep cannot be told apart here). The window, made smaller
# and larger again, keeps working.
case_station_window_watch() {
    local dir answering
    dir=$(case_folder station_window_watch)
    map_com_ports
    start_sim watch_answering --log "$dir/com3.log" --flash-out "$dir/flash.bin" ||
        fail "simulator did not start" || return 1
    answering=$sim_device
    sim_on 3 watch_silent --silent --log "$dir/silent.log" || return 1
    sim_on 4 watch_com4 --log "$dir/com4.log" || return 1
    start_wineserver
    import_registry "$root/tests/windows/port_devices.reg"
    start_bell_watch "$dir/bells.txt" || fail "no bell counter" || return 1
    start_station "$dir" --ports COM3,COM4 --port-filter vid=0403 --image image.dl \
        --report report.jsonl
    station_window_pauses "$dir" "$answering"
    local checked=$?
    stop_bell_watch
    remove_port_devices
    stop_wineserver
    stop_sim
    ((checked == 0)) || return 1
    window_result_is "$dir" 0 || return 1
    (($(report_line_count "$dir") == 1)) &&
        grep -q '"port":"COM3".*"usb_serial":"A50285BI".*"result":"complete"' "$dir/report.jsonl" ||
        fail "not one complete line for COM3's adapter: $(cat "$dir/report.jsonl")" || return 1
    [[ ! -s "$dir/com4.log" ]] || fail "the modem on COM4 was sent: $(head -c 200 "$dir/com4.log")" ||
        return 1
    local bells
    bells=$(grep -c '^bell$' "$dir/bells.txt" || true)
    ((bells == 1)) || fail "$bells beeps for one outcome" || return 1
    flash_matches_image "$dir" || return 1
}

# The window part of case_station_window_watch.
station_window_pauses() {
    local dir=$1 answering=$2 window
    window=$(wait_for_window "Korvan Download Station" 30) || fail "no station window" ||
        return 1
    wait_for_file_lines "$dir/silent.log" "^AT" 1 30 || fail "COM3 was not tried" || return 1
    press_keys "$window" alt+p
    sleep 0.5
    wait_for_no_download 30 || fail "a try on COM3 did not end" || return 1
    ln -sfn "$answering" "$work/com/com3"
    # Longer than the station waits between two tries of a port.
    sleep 4
    [[ ! -s "$dir/com3.log" ]] || fail "a paused station tried COM3 again" || return 1
    screenshot "$window" "$work/screenshots/station-window-paused.png"
    press_keys "$window" alt+r
    wait_for_file_lines "$dir/com3.log" "^record " 20 30 || fail "Resume started no flash" ||
        return 1
    station_window_resizes "$window" || return 1
    wait_for_file_lines "$dir/report.jsonl" '"port":"COM3"' 1 60 ||
        fail "COM3's flash was not reported" || return 1
    sleep 1
    screenshot "$window" "$work/screenshots/station-window-adapter.png"
    press_keys "$window" alt+F4
    wait_for_exit "$gui_pid" 15 || fail "the station did not close" || return 1
}

# station_window_resizes WINDOW: dragged by its lower right corner (Wine draws and sizes an
# unmanaged window's frame itself, as Windows does) to a smaller size and a larger one again,
# the window takes each size and goes on.
station_window_resizes() {
    local window=$1 size width height
    for size in 640x480 1200x900; do
        width=${size%x*}
        height=${size#*x}
        eval "$(xdotool getwindowgeometry --shell "$window")"
        xdotool mousemove $((X + WIDTH - 2)) $((Y + HEIGHT - 2)) mousedown 1
        sleep 0.2
        xdotool mousemove $((X + (WIDTH + width) / 2)) $((Y + (HEIGHT + height) / 2))
        sleep 0.2
        xdotool mousemove $((X + width - 2)) $((Y + height - 2))
        sleep 0.2
        xdotool mouseup 1
        sleep 1
        kill -0 "$gui_pid" 2>/dev/null || fail "the station ended when resized to $size" ||
            return 1
        eval "$(xdotool getwindowgeometry --shell "$window")"
        ((WIDTH - width <= 4 && width - WIDTH <= 4 && HEIGHT - height <= 4 &&
            height - HEIGHT <= 4)) || fail "dragged to $size, is ${WIDTH}x$HEIGHT" || return 1
        screenshot "$window" "$work/screenshots/station-window-$size.png"
    done
}

# Logging off while a flash runs: the station asks Windows to wait, the flash finishes, and
# the station then closes by itself.
case_station_window_session_end() {
    local dir
    dir=$(case_folder station_window_session_end)
    map_com_ports
    sim_on 3 session_com3 --line-rate 115200 --log "$dir/sim.log" \
        --flash-out "$dir/flash.bin" || return 1
    run_station "$dir" station_outlasts_session_end --ports COM3 --image image.dl \
        --report report.jsonl || return 1
    reported_complete "$dir" COM3 && flash_matches_image "$dir"
}

station_outlasts_session_end() {
    local dir=$1
    wait_for_window "Korvan Download Station" 30 >/dev/null || fail "no station window" ||
        return 1
    wait_for_file_lines "$dir/sim.log" "^record " 20 60 || fail "COM3 is not programming" ||
        return 1
    timeout 30 wine wineboot --end-session >"$dir/wineboot.out" 2>&1 || true
    sleep 2
    [[ ! -s "$dir/report.jsonl" ]] ||
        fail "the flash ended before the session's end was asked: the case proves nothing" ||
        return 1
    kill -0 "$gui_pid" 2>/dev/null || fail "the end of the session ended the station mid-flash" ||
        return 1
    wait_for_exit "$gui_pid" 90 || fail "the station did not close after the flash" || return 1
}
