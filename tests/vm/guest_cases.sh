# The guest side of the VM cases, run by /init (busybox sh). Each case ends with a line
# '@vm case N: passed' or '@vm case N: failed: REASON'; the host adds its own checks (the
# flashed records) and unplugs and re-plugs the USB adapter when the lines below ask for it.
# /dev/ttyS0 is this guest's console: no COM port ever names it.
bin=/vm/bin
images=/vm/images
for n in 1 2 3 4 5 6 7 8 9; do
    export "KORVAN_COM$n="
done

uptime_cs() {
    read -r up _ </proc/uptime
    echo $((${up%.*} * 100 + 1${up#*.} - 100))
}

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, polled every 0.1 s.
wait_until() {
    limit=$(($(uptime_cs) + $1 * 100))
    shift
    until "$@"; do
        [ "$(uptime_cs)" -lt "$limit" ] || return 1
        sleep 0.1
    done
}

adapter_present() { [ -c /dev/ttyUSB0 ]; }
adapter_gone() { [ ! -e /dev/ttyUSB0 ]; }

result() {
    if [ -z "$2" ]; then
        echo "@vm case $1: passed"
    else
        echo "@vm case $1: failed: $2"
    fi
}

# flash DEVICE IMAGE OUTPUT: one console run with COM3 on DEVICE; sets run_status.
flash() {
    run_status=0
    KORVAN_COM3=$1 timeout 120 "$bin/korvan-download-cli" --image "$images/$2" >"$3" 2>&1 \
        </dev/null || run_status=$?
}

# completion_fault OUTPUT IMAGE: why the run did not complete, or nothing.
completion_fault() {
    expected="Download complete!  ($(cat "$images/${2%.dl}.sum"))"
    last=$(tail -n 1 "$1")
    if [ "$run_status" != 0 ]; then
        echo "exit status $run_status, last line '$last'"
    elif [ "$last" != "$expected" ]; then
        echo "last line '$last', expected '$expected'"
    fi
}

case_uart_download() {
    flash /dev/ttyS1 a.dl /tmp/case1.out
    result 1 "$(completion_fault /tmp/case1.out a.dl)"
}

# adapter_download CASE IMAGE: a whole download through /dev/ttyUSB0 once it is there.
adapter_download() {
    if ! wait_until 30 adapter_present; then
        result "$1" "no /dev/ttyUSB0"
        return
    fi
    flash /dev/ttyUSB0 "$2" "/tmp/case$1.out"
    result "$1" "$(completion_fault "/tmp/case$1.out" "$2")"
}

latency_attribute=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
latency_timer() { cat "$latency_attribute" 2>/dev/null; }

# A whole download through the adapter, its latency timer read while the run goes on (a
# reading that differs from the one before the run counts) and after it: the run lowers it
# and gives it back. QEMU's adapter reports 0 ms at plug-in; it is given the 16 ms of a
# real FTDI chip first.
case_usb_download() {
    if ! wait_until 30 adapter_present; then
        result 2 "no /dev/ttyUSB0"
        return
    fi
    echo "@vm   the emulated adapter's latency timer at plug-in: $(latency_timer) ms"
    echo 16 >"$latency_attribute" 2>/dev/null ||
        echo "@vm   the emulated adapter refused a 16 ms latency timer"
    before=$(latency_timer)
    run_status=0
    KORVAN_COM3=/dev/ttyUSB0 timeout 120 "$bin/korvan-download-cli" --image "$images/a.dl" \
        >/tmp/case2.out 2>&1 </dev/null &
    pid=$!
    during=$before
    while kill -0 "$pid" 2>/dev/null; do
        value=$(latency_timer)
        [ -z "$value" ] || [ "$value" = "$before" ] || during=$value
        sleep 0.05
    done
    wait "$pid" || run_status=$?
    after=$(latency_timer)
    echo "@vm latency timer ${during:-?} ms during a run, ${after:-?} ms after"
    fault=$(completion_fault /tmp/case2.out a.dl)
    if [ -z "$fault" ] && [ "$during" != 1 ]; then
        fault="latency timer ${during:-unreadable} ms during the run, expected 1"
    elif [ -z "$fault" ] && [ "$after" != "$before" ]; then
        fault="latency timer ${after:-unreadable} ms after the run, ${before:-unreadable} before"
    fi
    result 2 "$fault"
}

# The host pulls the adapter at record 50; the run must fail cleanly and soon.
case_usb_unplug() {
    echo "@vm case 3 started"
    KORVAN_COM3=/dev/ttyUSB0 "$bin/korvan-download-cli" --image "$images/b.dl" \
        >/tmp/case3.out 2>&1 </dev/null &
    pid=$!
    wait_until 90 adapter_gone
    unplugged=$(uptime_cs)
    ended() { ! kill -0 "$pid" 2>/dev/null; }
    hung=""
    if ! wait_until 10 ended; then
        hung="still running 10 s after the unplug"
        kill -9 "$pid"
    fi
    run_status=0
    wait "$pid" || run_status=$?
    elapsed=$(($(uptime_cs) - unplugged))
    last=$(tail -n 1 /tmp/case3.out)
    fault=""
    if ! adapter_gone; then
        fault="the adapter was never unplugged (last line '$last')"
    elif [ -n "$hung" ]; then
        fault=$hung
    elif grep -q "Download complete" /tmp/case3.out; then
        fault="reported a complete download"
    elif [ "$run_status" != 1 ] || [ "$last" != "Could not program modem!" ]; then
        fault="exit status $run_status, last line '$last'"
    elif [ "$elapsed" -gt 500 ]; then
        fault="ended $((elapsed / 100)).$((elapsed % 100 / 10)) s after the unplug"
    fi
    result 3 "$fault"
    echo "@vm case 3 ended $elapsed cs after the unplug"
}

# The adapter comes back; the half-flashed modem, still in download mode, is flashed whole.
case_usb_recovery() {
    echo "@vm case 4 replug"
    adapter_download 4 b.dl
}

# Port discovery (the COM mapping from sysfs, --list-ports) is needed for these checks;
# until the console program has it they are reported as waiting, not run.
discovery_checks() {
    if ! "$bin/korvan-download-cli" --help 2>&1 | grep -q -- --list-ports; then
        echo "@vm waiting for port discovery: phantom /dev/ttyS2 is PORT_E_NO_PORT" \
            "(now status $phantom_status), --list-ports, a default run finding ttyUSB0"
        return
    fi
    [ "$phantom_status" = -14 ] ||
        echo "FAILED: phantom /dev/ttyS2: status $phantom_status, expected PORT_E_NO_PORT (-14)"
    listing=/tmp/list-ports.out
    (unset KORVAN_COM1 KORVAN_COM2 KORVAN_COM3 KORVAN_COM4 KORVAN_COM5 KORVAN_COM6 \
        KORVAN_COM7 KORVAN_COM8 KORVAN_COM9
    timeout 20 "$bin/korvan-download-cli" --list-ports >"$listing" 2>&1) ||
        echo "FAILED: --list-ports exited with $?"
    listed() { grep "/dev/$1 " "$listing" | grep -q "$2"; }
    listed ttyS1 "16550A UART" || echo "FAILED: --list-ports: ttyS1 as a 16550A UART"
    listed ttyS2 phantom || echo "FAILED: --list-ports: ttyS2 as a phantom"
    listed ttyS3 phantom || echo "FAILED: --list-ports: ttyS3 as a phantom"
    listed ttyS0 "^not searched .*console" || echo "FAILED: --list-ports: ttyS0, the console, searched"
    listed ttyUSB0 "^COM3 .*ftdi_sio 0403:6001" ||
        echo "FAILED: --list-ports: ttyUSB0 as FTDI 0403:6001 on COM3"
    if grep -q "^FAILED: --list-ports" /tmp/case5.out; then
        sed 's/^/listing: /' "$listing"
    fi
    (unset KORVAN_COM1 KORVAN_COM2 KORVAN_COM3 KORVAN_COM4 KORVAN_COM5 KORVAN_COM6 \
        KORVAN_COM7 KORVAN_COM8 KORVAN_COM9
    timeout 120 "$bin/korvan-download-cli" --image "$images/a.dl" >/tmp/default.out 2>&1 \
        </dev/null) || echo "FAILED: a run without KORVAN_COM: exit status $?"
    # The host checks that the records went to the adapter's modem.
    grep -q "Download complete" /tmp/default.out ||
        echo "FAILED: a run without KORVAN_COM did not complete: $(tail -n 1 /tmp/default.out)"
}

case_port_layer() {
    run_status=0
    KORVAN_COM2=/dev/ttyS1 KORVAN_COM3=/dev/ttyS2 KORVAN_COM4=/dev/ttyUSB0 \
        timeout 60 "$bin/vm-port-check" >/tmp/case5.out 2>&1 || run_status=$?
    phantom_status=$(sed -n 's/^phantom COM3 status //p' /tmp/case5.out)
    discovery_checks >>/tmp/case5.out
    grep "^FAILED\|^listing\|^@vm waiting" /tmp/case5.out | sed 's/^FAILED\|^listing/@vm   &/'
    sed -n 's/^adapter latency/@vm   &/p' /tmp/case5.out
    dmesg | grep -i latency | sed 's/^/@vm   kernel: /'
    if grep -q "^FAILED" /tmp/case5.out; then
        result 5 "$(grep -c "^FAILED" /tmp/case5.out) port checks failed"
    elif [ "$run_status" != 0 ]; then
        result 5 "vm-port-check exited with $run_status"
    else
        result 5 ""
    fi
}

case_uart_download
case_usb_download
case_usb_unplug
case_usb_recovery
case_port_layer
