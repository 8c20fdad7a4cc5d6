# Shared by the Windows tests: the private Wine prefix (made once, by
# wineboot) and links in its dosdevices that make a Linux device COMn.
# Sourced with WINEPREFIX and WINEDEBUG set (CTest sets them).

# wine_prefix_ready: boots the prefix when it is new.
wine_prefix_ready() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i > /dev/null 2>&1
    fi
    mkdir -p "$WINEPREFIX/dosdevices"
    # A server of its own that outlives a test by a few seconds, started
    # apart so that it holds none of the test's output streams.
    wineserver -p 5 < /dev/null > /dev/null 2>&1 || true
    # The prefix's services (started by the first Windows program otherwise)
    # started here too: they outlive the test, and a service holding the
    # test's output would keep CTest waiting after the test has ended.
    wineboot < /dev/null > /dev/null 2>&1 || true
}

# export_wine_path QT-PREFIX [RUNTIME-DIR...]: WINEPATH to Qt's DLLs and the
# C++ runtime's (the cross compiler's, when no folder is given).
export_wine_path() {
    local path="Z:$(readlink -f "$1")/bin" dir dll
    shift
    if [ $# -eq 0 ]; then
        for dll in libstdc++-6.dll libwinpthread-1.dll; do
            set -- "$@" "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")"
        done
    fi
    for dir in "$@"; do path="$path;Z:$(readlink -f "$dir")"; done
    export WINEPATH="$path"
}

# link_com N DEVICE: makes COMN the device (a pseudo-terminal).
link_com() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# wait_for PATH: until PATH exists (a link a helper makes), at most 10 s.
wait_for() {
    for _ in $(seq 1 1000); do
        [ -e "$1" ] && return 0
        sleep 0.01
    done
    echo "no $1 after 10 s" >&2
    return 1
}

# listening PORT: whether something takes connections on 127.0.0.1:PORT.
listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }

# free_port: a port in 20000..59999 that nothing listens on now.
free_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 40000))
        listening "$p" || break
    done
    echo "$p"
}
