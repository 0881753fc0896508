#!/usr/bin/env bash
# Installs a build into a scratch folder (DESTDIR, prefix /usr) and checks it as a desktop sees
# it: exactly the expected files, each in its place; the desktop entry, the AppStream metainfo
# and the file type valid. Then the installed ludex, started offscreen with a scratch HOME and a
# document named relative to the folder it was started in, finds its data under share, opens
# the document, keeps its settings in the scratch HOME's configuration folder (made owner-only)
# and ends with status 0 when SIGTERM asks it to close; started again without a document, it
# reads those settings back. On a virtual display, a memo typed into the opened document is saved
# with Ctrl+S. The installed ludex-cli runs too.
# Usage: tests/install/install_test.sh BUILD_DIR
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
scratch="$(mktemp -d)"
pid=""
xvfb=""
cleanup() {
    for process in "$pid" "$xvfb"; do
        if [ -n "$process" ]; then
            kill -KILL "$process" 2>/dev/null || true
        fi
    done
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "install test: $*" >&2
    exit 1
}

root="$scratch/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$scratch/install.log" ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; }

# Exactly these files: the portable marker and any settings file stay in the build folder.
expected="$scratch/expected"
{
    printf '%s\n' usr/bin/ludex usr/bin/ludex-cli \
        usr/share/applications/org.example.ludex.desktop \
        usr/share/icons/hicolor/scalable/apps/org.example.ludex.svg \
        usr/share/ludex/Language.ENG.xml usr/share/ludex/Language.RUS.xml \
        usr/share/ludex/ludex_ENG.help usr/share/ludex/ludex_RUS.help \
        usr/share/ludex/ludex_Settings_Stencil.xml \
        usr/share/man/man1/ludex.1.gz usr/share/man/man1/ludex-cli.1.gz \
        usr/share/metainfo/org.example.ludex.metainfo.xml \
        usr/share/mime/packages/ludex.xml
    for size in 16 24 32 48 64 128 256; do
        echo "usr/share/icons/hicolor/${size}x${size}/apps/org.example.ludex.png"
    done
} | sort >"$expected"
(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$scratch/installed"
diff -u "$expected" "$scratch/installed" || fail "the installed files differ from the expected ones"

share="$root/usr/share"
for help in "$share"/ludex/*.help; do
    [ "$(stat -c %a "$help")" = 444 ] || fail "$help is not read-only"
done
# The PNG signature, then width and height from the header chunk.
png_header() {
    od -An -tu1 -N24 "$1" | tr -s ' \n' ' ' |
        awk '{ print $1 " " $2 " " $3 " " $4 " " ($17 * 16777216 + $18 * 65536 + $19 * 256 + $20) "x" ($21 * 16777216 + $22 * 65536 + $23 * 256 + $24) }'
}
for size in 16 24 32 48 64 128 256; do
    [ "$(png_header "$share/icons/hicolor/${size}x${size}/apps/org.example.ludex.png")" = "137 80 78 71 ${size}x${size}" ] ||
        fail "the ${size}x${size} icon is no PNG of that size"
done
gzip -t "$share"/man/man1/*.1.gz || fail "a manual page is not compressed properly"

desktop-file-validate "$share/applications/org.example.ludex.desktop"
appstreamcli validate --no-net "$share/metainfo/org.example.ludex.metainfo.xml" >"$scratch/appstream.log" ||
    { cat "$scratch/appstream.log"; fail "the metainfo file does not validate"; }
xmllint --noout "$share/mime/packages/ludex.xml"
# The file type compiles into a MIME database: by extension and by the document's root element.
mkdir -p "$scratch/mime/packages"
cp "$share/mime/packages/ludex.xml" "$scratch/mime/packages/"
update-mime-database "$scratch/mime" >"$scratch/mime.log" 2>&1 || { cat "$scratch/mime.log"; fail "update-mime-database failed"; }
grep -q '^50:application/x-ludex:\*\.ldx$' "$scratch/mime/globs2" || fail "no glob for *.ldx"
grep -q '^ ludex application/x-ludex$' "$scratch/mime/XMLnamespaces" || fail "no rule for the root element"
grep -aq '<ludex ' "$scratch/mime/magic" || fail "no magic rule"

# Both programs answer --version without a display.
[ "$(env -i "$root/usr/bin/ludex" --version)" = "ludex 2.1.0" ] || fail "ludex --version"
[ "$(env -i "$root/usr/bin/ludex-cli" --version)" = "ludex-cli 2.1.0" ] || fail "ludex-cli --version"

home="$scratch/home"
docs="$scratch/docs"
mkdir -p "$home" "$docs"
printf '<?xml version="1.0" encoding="utf-8"?>\r\n<ludex version="2.1.0 " title="Installed" memo="m"/>' \
    >"$docs/doc.ldx"
[ "$(env -i "$root/usr/bin/ludex-cli" tree "$docs/doc.ldx")" = "Installed" ] || fail "ludex-cli tree"

# Whether the process has its SIGTERM handler: SigCgt is the mask of caught signals, SIGTERM (15)
# its bit 14.
catches_sigterm() {
    local mask
    mask="$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status" 2>/dev/null)" || return 1
    [ -n "$mask" ] && (((0x$mask >> 14) & 1))
}

# Runs the installed ludex in FOLDER with ARGUMENTS on the display DISPLAY_FOR_LUDEX (offscreen
# when it is empty); once the program catches SIGTERM, runs the command ACTION (with the pid), then
# closes the program with SIGTERM and expects status 0.
DISPLAY_FOR_LUDEX=""
run_ludex() {
    local folder="$1" action="$2"
    shift 2
    local environment=(HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8)
    local leaks="${LSAN_OPTIONS:-}"
    if [ -n "$DISPLAY_FOR_LUDEX" ]; then
        environment+=(DISPLAY="$DISPLAY_FOR_LUDEX" QT_QPA_PLATFORM=xcb)
        # Under the sanitizers: what system libraries keep on a display is not the program's leak.
        leaks="${leaks:+$leaks:}suppressions=$here/lsan-display.supp"
    else
        environment+=(QT_QPA_PLATFORM=offscreen)
    fi
    if [ -n "$leaks" ]; then
        environment+=("LSAN_OPTIONS=$leaks")
    fi
    for name in ASAN_OPTIONS UBSAN_OPTIONS; do
        if [ -n "${!name:-}" ]; then
            environment+=("$name=${!name}")
        fi
    done
    (cd "$folder" && exec env -i "${environment[@]}" "$root/usr/bin/ludex" "$@") >"$scratch/ludex.log" 2>&1 &
    pid=$!
    local waited=0
    # Until the program itself runs there (not the subshell that starts it) and handles SIGTERM.
    until [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$root/usr/bin/ludex" ] && catches_sigterm "$pid"; do
        kill -0 "$pid" 2>/dev/null || { cat "$scratch/ludex.log"; fail "ludex ended before it was asked to"; }
        sleep 0.1
        waited=$((waited + 1))
        [ "$waited" -lt 300 ] || fail "ludex did not get ready"
    done
    "$action" "$pid"
    kill -TERM "$pid"
    waited=0
    while kill -0 "$pid" 2>/dev/null && [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" != Z ]; do
        sleep 0.1
        waited=$((waited + 1))
        [ "$waited" -lt 300 ] || { cat "$scratch/ludex.log"; fail "ludex did not close on SIGTERM"; }
    done
    local status=0
    wait "$pid" || status=$?
    pid=""
    [ "$status" -eq 0 ] || { cat "$scratch/ludex.log"; fail "ludex ended with status $status"; }
}
nothing() { :; }

run_ludex "$docs" nothing doc.ldx
settings="$home/.config/ludex/ludex_Settings.xml"
[ -f "$settings" ] || fail "no settings file in $home/.config/ludex"
grep -q "file=\"$docs/doc.ldx\"" "$settings" || { cat "$settings"; fail "the document is not in the settings"; }
for folder in "$home/.config" "$home/.config/ludex"; do
    [ "$(stat -c %a "$folder")" = 700 ] || fail "$folder is not owner-only"
done
[ -z "$(find "$root" -name '*_Settings.xml')" ] || fail "settings were written into the installation"

# Started again without a document elsewhere, it opens the one its settings remember.
run_ludex "$scratch" nothing
grep -q "file=\"$docs/doc.ldx\"" "$settings" || { cat "$settings"; fail "the settings were not read back"; }
# On a display, as a user: the memo of the opened document is typed into and Ctrl+S saves it. The
# document is replaced with the typed text, and the bytes it had are kept as its first backup.
before="$(cat "$docs/doc.ldx")"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
done
[ -s "$scratch/display" ] || { cat "$scratch/xvfb.log"; fail "Xvfb did not start"; }
DISPLAY_FOR_LUDEX=":$(cat "$scratch/display")"
type_and_save() {
    local window
    window="$(DISPLAY="$DISPLAY_FOR_LUDEX" timeout 60 xdotool search --sync --onlyvisible --pid "$1" | head -n 1)" ||
        fail "no window of ludex appeared"
    DISPLAY="$DISPLAY_FOR_LUDEX" xdotool windowfocus --sync "$window" key Tab type "typed "
    DISPLAY="$DISPLAY_FOR_LUDEX" xdotool key ctrl+s
    for _ in $(seq 300); do
        grep -q 'memo="typed m"' "$docs/doc.ldx" && return
        sleep 0.1
    done
    cat "$docs/doc.ldx"
    fail "the typed memo was not saved"
}
run_ludex "$docs" type_and_save doc.ldx
kill "$xvfb"
xvfb=""
[ "$(cat "$docs/doc.ldx.bak1")" = "$before" ] || fail "the first backup does not hold the document as it was"
grep -q 'title="Installed"' "$docs/doc.ldx" || fail "the saved document lost its title"
echo "install test: every check passed"
