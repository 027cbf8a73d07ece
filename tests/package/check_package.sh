#!/usr/bin/env bash
# Builds the Debian package, checks what it holds and what it declares, then runs the programs from a tree
# unpacked in a temporary folder, with a temporary HOME, as a new user of the installed package would.
# Usage: check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
deb="$build/kavo_${version}_$(dpkg --print-architecture).deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
[ -f "$deb" ] || fail "no $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in usr/bin/kavo usr/bin/kavo-cli usr/share/kavo/windows.wav usr/share/kavo/图片.jpg \
    usr/share/kavo/自动更新/软件下载.txt usr/share/kavo/自动更新/源码下载.txt usr/share/kavo/自动更新/模块下载.txt \
    usr/share/kavo/自动更新/电脑技术.txt usr/share/kavo/自动更新/常用软件.txt \
    usr/share/applications/org.kavo.Kavo.desktop usr/share/metainfo/org.kavo.Kavo.metainfo.xml \
    usr/share/man/man1/kavo-cli.1.gz usr/share/man/man1/kavo.1.gz; do
    grep -qx "./$path" <<<"$contents" || fail "the package lacks $path"
done
for size in 16 32 48 64 128 256; do
    grep -qx "./usr/share/icons/hicolor/${size}x${size}/apps/kavo.png" <<<"$contents" || fail "no ${size}px icon"
done

[ "$(dpkg-deb -f "$deb" Package)" = kavo ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6core6 libcurl4 libsdl2-2.0-0 libx11-6 libc6; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

tree="$work/somewhere/else"
mkdir -p "$tree"
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/org.kavo.Kavo.desktop" || fail "desktop entry"
grep -qx 'Name=KAVO 软件一键下载' "$tree/usr/share/applications/org.kavo.Kavo.desktop" || fail "desktop Name"
grep -qx 'Categories=Network;FileTransfer;' "$tree/usr/share/applications/org.kavo.Kavo.desktop" ||
    fail "desktop Categories"
appstreamcli validate --no-net "$tree/usr/share/metainfo/org.kavo.Kavo.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "metainfo"; }
zcat "$tree/usr/share/man/man1/kavo-cli.1.gz" | grep -q '^\.TH KAVO-CLI 1' || fail "man page"
zcat "$tree/usr/share/man/man1/kavo.1.gz" | grep -q '^\.TH KAVO 1' || fail "kavo's man page"
man_page=$(zcat "$tree/usr/share/man/man1/kavo-cli.1.gz" | sed 's/\\-/-/g')

# The unpacked kavo-cli, in a fresh user's session: its data from ../share/kavo, the user's files in XDG folders.
user="$work/home"
mkdir -p "$user"
# A fresh session keeps only the sanitizers' options of a sanitizer build.
sanitizers=()
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS; do
    [ -z "${!name:-}" ] || sanitizers+=("$name=${!name}")
done
fresh=(env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "${sanitizers[@]}")
cli() { "${fresh[@]}" HOME="$user" "$tree/usr/bin/kavo-cli" "$@"; }
[ "$(cli --version)" = "kavo-cli $version" ] || fail "--version"
cli --help | grep -q '^usage: kavo-cli' || fail "--help"
# Every command of the usage has its entry in the man page.
for command in $(cli --help | sed -n 's/^  \([a-z0-9-]*\) .*/\1/p'); do
    grep -Eq "^\.B[IR]? \"?$command( |\"|$)" <<<"$man_page" || fail "the man page lacks the command $command"
done
set +e
cli nonsense 2>"$work/usage.err" >/dev/null
status=$?
set -e
[ "$status" = 2 ] && grep -q '^usage: kavo-cli' "$work/usage.err" || fail "an unknown command gives $status"

rows=$(cli list 软件下载)
[ -n "$rows" ] || fail "no rows from the shipped list"
cmp -s "$user/.local/share/kavo/自动更新/软件下载.txt" "$tree/usr/share/kavo/自动更新/软件下载.txt" ||
    fail "the shipped lists were not copied to the user's data folder"
cli setting set 音乐 是否播放 是
[ "$(cli setting get 音乐 是否播放)" = 是 ] || fail "setting round trip"
iconv -f GBK -t UTF-8 "$user/.config/kavo/配置" | grep -q '是否播放=是' ||
    fail "settings are not in ~/.config/kavo/配置"
[ ! -e "$tree/usr/bin/配置" ] || fail "settings written beside the executable"

# XDG folders named by the user win.
"${fresh[@]}" HOME="$user" XDG_CONFIG_HOME="$work/cfg" "$tree/usr/bin/kavo-cli" setting set 记录 名称 x
[ -f "$work/cfg/kavo/配置" ] || fail "XDG_CONFIG_HOME ignored"
# Asked for its usage or version, or started where there is no display, kavo answers on the terminal.
gui() { "${fresh[@]}" HOME="$user" "$tree/usr/bin/kavo" "$@"; }
[ "$(gui --version)" = "kavo $version" ] || fail "kavo --version"
gui --help | grep -q '^usage: kavo' || fail "kavo --help"
set +e
gui 2>"$work/nodisplay.err" >/dev/null
status=$?
set -e
[ "$status" = 1 ] && grep -q 'no display' "$work/nodisplay.err" || fail "kavo without a display gives $status"

# The unpacked program itself starts for a new user, copies the lists and ends on SIGTERM like its close button.
gui_home="$work/gui-home"
mkdir -p "$gui_home"
instance="kavo-package-test-$$"
"${fresh[@]}" HOME="$gui_home" QT_QPA_PLATFORM=offscreen KAVO_INSTANCE_NAME="$instance" \
    KAVO_MANIFEST_URL=http://127.0.0.1:9/ "$tree/usr/bin/kavo" 2>"$work/kavo.err" &
pid=$!
for _ in $(seq 300); do [ -S "/tmp/$instance" ] && break; sleep 0.1; done
[ -S "/tmp/$instance" ] || { kill -9 "$pid"; cat "$work/kavo.err" >&2; fail "the unpacked kavo did not start"; }
[ -f "$gui_home/.local/share/kavo/自动更新/常用软件.txt" ] || fail "kavo did not copy the shipped lists"
kill -TERM "$pid"
wait "$pid" || fail "kavo ended with status $? on SIGTERM"
# A home where the user's folders cannot be made, with the installed tree read-only: the catalog still comes
# from the shipped lists, the reason is told on stderr, and writing a setting fails.
chmod 755 "$work"
chmod -R a-w "$tree"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
shipped_rows=$(cli list 软件下载)
printf 'not a folder' >"$work/a-file"
mkdir -p "$work/readonly-home"
chmod 555 "$work/readonly-home"
# Permissions do not stop root: the cases that need them run as nobody there.
other=()
[ "$(id -u)" != 0 ] || other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
bad_home_case() { # NAME, then the environment of the case
    local name=$1
    shift
    local rows status
    set +e
    rows=$("${other[@]}" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "${sanitizers[@]}" "$@" \
        "$tree/usr/bin/kavo-cli" list 软件下载 2>"$work/bad.err")
    status=$?
    set -e
    [ "$status" = 0 ] || { cat "$work/bad.err" >&2; fail "$name: list ends with $status"; }
    [ "$rows" = "$shipped_rows" ] || fail "$name: list does not give the shipped rows"
    grep -q '无法建立用户文件夹' "$work/bad.err" || fail "$name: no reason on stderr"
    set +e
    "${other[@]}" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "${sanitizers[@]}" "$@" \
        "$tree/usr/bin/kavo-cli" setting set 音乐 是否播放 是 2>"$work/bad.err"
    status=$?
    set -e
    [ "$status" != 0 ] || fail "$name: a setting that cannot be kept was reported written"
    grep -q '设置不会被保存' "$work/bad.err" || fail "$name: stderr does not say settings are not kept"
}
bad_home_case "XDG_CONFIG_HOME at a file" HOME="$work/readonly-home" XDG_CONFIG_HOME="$work/a-file" \
    XDG_DATA_HOME="$work/a-file"
bad_home_case "read-only HOME" HOME="$work/readonly-home"
# Without HOME the account's home is used; nobody's does not exist.
[ ${#other[@]} = 0 ] || bad_home_case "no HOME"
# The window starts there too, and says why.
instance="kavo-package-bad-home-$$"
"${other[@]}" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "${sanitizers[@]}" HOME="$work/readonly-home" \
    XDG_CONFIG_HOME="$work/a-file" XDG_DATA_HOME="$work/a-file" QT_QPA_PLATFORM=offscreen \
    KAVO_INSTANCE_NAME="$instance" KAVO_MANIFEST_URL=http://127.0.0.1:9/ "$tree/usr/bin/kavo" 2>"$work/kavo-bad.err" &
pid=$!
for _ in $(seq 300); do [ -S "/tmp/$instance" ] && break; sleep 0.1; done
[ -S "/tmp/$instance" ] || { kill -9 "$pid"; cat "$work/kavo-bad.err" >&2; fail "kavo did not start in a bad home"; }
kill -TERM "$pid"
wait "$pid" || fail "kavo in a bad home ended with status $? on SIGTERM"
grep -q '设置不会被保存' "$work/kavo-bad.err" || fail "kavo does not say why in a bad home"
echo "package $deb: ok"
