# shellcheck shell=bash
# The install tests, sourced by scripts/test-install. Expects root (the checkout), version,
# deb, setup_exe and native_bin (korvan-modem-sim and korvan-image for the Wine part). Each
# part runs in a subshell of its own and exits non-zero with a reason on the first failed
# check.

source tests/windows/harness.sh
source tests/windows/cases.sh

log() { echo "test-install: $*"; }

# --- Debian package -------------------------------------------------------------------

# Only one install test at a time on a machine: another checkout's test removing the
# package would pull it away from under this one.
install_lock=/run/lock/korvan-download-install-test.lock

apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -qq "$@"
}

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

installed_packages() {
    dpkg-query -W -f='${Package}\n' | sort
}

# The package and everything it depends on, however deep.
dependency_closure() {
    apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances korvan-download 2>/dev/null | grep -v '^ ' | sort -u
}

# remove_deb ADDED: purges what the install added (the package and the dependencies it
# pulled in), nothing else.
remove_deb() {
    local added=$1
    [[ -n "$added" ]] || return 0
    # shellcheck disable=SC2086
    apt_get purge -y $added >"$work/apt-purge.log" 2>&1 ||
        fail "apt-get purge $added: $(tail -n 3 "$work/apt-purge.log")" || return 1
    ! is_installed korvan-download || fail "the package is still installed" || return 1
    [[ ! -e /usr/bin/korvan-download-cli ]] || fail "/usr/bin/korvan-download-cli stayed" ||
        return 1
}

# The installed console program, with the installed simulator and image tool, finds the
# modem on COM3 (every other COM port leads nowhere), takes the image from ./modems.cfg
# and completes the download with every record unchanged.
check_installed_download() {
    local dir="$work/download"
    mkdir -p "$dir"
    /usr/bin/korvan-image make "$dir/image.dl" >/dev/null
    local checksum
    checksum=$(/usr/bin/korvan-image checksum "$dir/image.dl")
    echo "KORVAN image.dl" >"$dir/modems.cfg"
    native_bin=/usr/bin start_sim installed --flash-out "$dir/flash.bin" ||
        fail "the installed simulator did not start" || return 1
    local ports
    ports=$(python3 "$root/tests/support/korvan_sim.py" com-ports-away "$dir" "3=$sim_device") ||
        fail "could not map the COM ports away" || return 1
    local status=0
    (cd "$dir" && eval "$ports" && timeout 60 /usr/bin/korvan-download-cli >cli.out 2>cli.err) ||
        status=$?
    stop_sim
    local last
    last=$(tail -n 1 "$dir/cli.out")
    ((status == 0)) && [[ "$last" == "Download complete!  ($checksum)" ]] ||
        fail "status $status, last line '$last'" || return 1
    cmp -s "$dir/image.dl" "$dir/flash.bin" || fail "flashed records differ from the image" ||
        return 1
}

check_installed_files() {
    local program page
    for program in korvan-download korvan-download-cli korvan-modem-sim korvan-image; do
        page=$(man -w "$program" 2>&1) || fail "man -w $program: $page" || return 1
        [[ "$page" == "/usr/share/man/man1/$program.1.gz" ]] ||
            fail "man -w $program found $page" || return 1
    done
    # The manual pages refer to the README for the rest.
    zgrep -q '^# Korvan Download Utility' /usr/share/doc/korvan-download/README.md.gz ||
        fail "no README in /usr/share/doc/korvan-download" || return 1
    local problems
    problems=$(desktop-file-validate /usr/share/applications/korvan-download.desktop 2>&1) ||
        fail "desktop entry: $problems" || return 1
    [[ -z "$problems" ]] || fail "desktop entry: $problems" || return 1
    [[ -s /usr/share/icons/hicolor/32x32/apps/korvan-download.png ]] ||
        fail "no 32x32 theme icon" || return 1
    # The window program answers without a display.
    local answer
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/korvan-download --version 2>&1) || true
    [[ "$answer" == "korvan-download $version" ]] ||
        fail "korvan-download --version said '$answer'" || return 1
}

test_deb() (
    [[ -f "$deb" ]] || fail "no $deb (scripts/package makes it)" || exit 1
    work=$(mktemp -d "${TMPDIR:-/tmp}/korvan-install-test.XXXXXX")
    exec 9>"$install_lock"
    flock -w 1800 9 || fail "another install test held $install_lock for 30 minutes" || exit 1
    if is_installed korvan-download; then
        # Installed before: this test reinstalls its own build and leaves it installed.
        log "  korvan-download was installed already: it stays installed"
    fi
    added=""
    before=$(installed_packages)
    trap 'remove_deb "$added"; rm -rf "$work"' EXIT
    apt_get install --reinstall -y "$deb" >"$work/apt-install.log" 2>&1 || {
        added=$(comm -13 <(echo "$before") <(installed_packages) |
            comm -12 - <(dependency_closure))
        fail "apt-get install: $(tail -n 3 "$work/apt-install.log")"
        exit 1
    }
    added=$(comm -13 <(echo "$before") <(installed_packages) | comm -12 - <(dependency_closure))
    log "  installed; added: ${added//$'\n'/ }"
    check_installed_download || exit 1
    check_installed_files || exit 1
    trap 'rm -rf "$work"' EXIT
    remove_deb "$added" || exit 1
)

# --- Windows installer -----------------------------------------------------------------

install_dir_name="Korvan Download Utility"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvanDownloadUtility'

# has_resources EXE: the program carries its application manifest (common controls 6,
# per-monitor DPI awareness, asInvoker) and a version resource naming this version.
has_resources() {
    python3 - "$1" "$version" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
wanted = [b"Microsoft.Windows.Common-Controls", b"PerMonitorV2", b'level="asInvoker"']
wanted += [text.encode("utf-16-le") for text in
           ("ProductName", "Korvan Download Utility", "FileVersion", sys.argv[2])]
missing = [text for text in wanted if text not in data]
if missing:
    print(f"{sys.argv[1]}: no {missing}")
sys.exit(1 if missing else 0)
PY
}

# shortcut_path [NAME]: the all-users Start-menu shortcut NAME (the product's by default).
shortcut_path() {
    echo "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/${1:-$install_dir_name}.lnk"
}
station_shortcut_name="Korvan Download Station"

check_silent_install() {
    timeout 120 wine "$setup_exe" /S >"$work/setup.out" 2>&1 || fail "setup.exe /S failed" ||
        return 1
    timeout 60 wineserver -w
    local file
    for file in korvan-download.exe korvan-download-cli.exe korvan-station.exe uninstall.exe; do
        [[ -f "$installed/$file" ]] || fail "no $file in Program Files" || return 1
    done
    [[ -f "$(shortcut_path)" ]] || fail "no Start-menu shortcut" || return 1
    [[ -f "$(shortcut_path "$station_shortcut_name")" ]] ||
        fail "no Start-menu shortcut to the station" || return 1
    # Beside each program its manual page as text, Windows line ends and all.
    local program
    for program in korvan-download korvan-download-cli korvan-station; do
        grep -q "^ *$program *- .*"$'\r'"\$" "$installed/$program.txt" ||
            fail "no manual page $program.txt beside the programs" || return 1
    done
    local entry
    entry=$(timeout 30 wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | tr -d '\r')
    [[ "$entry" == *"$version"* ]] || fail "no uninstall entry with version $version" ||
        return 1
    has_resources "$installed/korvan-download.exe" || fail "window program resources" ||
        return 1
    has_resources "$installed/korvan-download-cli.exe" || fail "console program resources" ||
        return 1
    has_resources "$installed/korvan-station.exe" || fail "station program resources" ||
        return 1
    local program answer
    for program in korvan-download-cli korvan-download korvan-station; do
        answer=$(timeout 30 wine "$installed/$program.exe" --version 2>&1 | tr -d '\r')
        [[ "$answer" == "$program $version" ]] ||
            fail "installed $program.exe --version said '$answer'" || return 1
    done
}

check_silent_uninstall() {
    timeout 60 wine "$installed/uninstall.exe" /S >"$work/uninstall.out" 2>&1 ||
        fail "uninstall.exe /S failed" || return 1
    # The uninstaller runs from a copy of itself in the temporary folder and ends later.
    timeout 60 wineserver -w
    [[ ! -e "$installed" ]] || fail "the uninstall left $(ls "$installed")" || return 1
    [[ ! -e "$(shortcut_path)" ]] || fail "the uninstall left the shortcut" || return 1
    [[ ! -e "$(shortcut_path "$station_shortcut_name")" ]] ||
        fail "the uninstall left the station's shortcut" || return 1
    ! timeout 30 wine reg query "$uninstall_key" >/dev/null 2>&1 ||
        fail "the uninstall left its Add/Remove Programs entry" || return 1
}

test_windows() (
    [[ -f "$setup_exe" ]] || fail "no $setup_exe (scripts/package makes it)" || exit 1
    work="$root/build/wine-install-test"
    wine_prefix="$root/build/wineprefix-install"
    rm -rf "$work"
    mkdir -p "$work/screenshots"
    trap cleanup EXIT
    make_wine_prefix
    start_xvfb || fail "Xvfb did not start" || exit 1
    make_image
    installed="$WINEPREFIX/drive_c/Program Files/$install_dir_name"
    check_silent_install || exit 1
    # The installed window program runs the whole download of the Wine window tests.
    win_bin=$installed
    case_gui_full_run || exit 1
    stop_wineserver
    check_silent_uninstall || exit 1
)
