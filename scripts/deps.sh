# The Debian packages each script needs, and installing the missing ones.
# Sourced by the scripts in this folder.

# Building and running the configurator and the simulator (scripts/run).
RUN_PACKAGES="g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev qt6-translations-l10n libmodbus-dev libtomlplusplus-dev libsqlite3-dev libmosquitto-dev fonts-dejavu-core"
# The test suite and the benchmarks on top of that (scripts/test): tests run
# headless, the sanitizer build uses clang's runtime, pictures are taken
# under Xvfb, the format check runs clang-format, CI's static analysis
# clang-tidy (scripts/check-tidy), ser2net the network ports' real server,
# mosquitto the collection's broker.
TEST_PACKAGES="$RUN_PACKAGES libgtest-dev libbenchmark-dev mosquitto mosquitto-clients xvfb xauth imagemagick clang libclang-rt-14-dev clang-format clang-tidy ser2net"
# Building the .deb and checking its files (scripts/package).
PACKAGE_PACKAGES="$RUN_PACKAGES dpkg-dev file desktop-file-utils appstream lintian man-db"
# The Windows build (scripts/windows) and its tests under Wine against the
# simulator: the cross compiler, Wine's 64-bit loader, socat for a
# pseudo-terminal pair, zip and unzip for the package and its check in a fresh
# Wine prefix (xwininfo, from x11-utils, finds its window), xz for the Qt
# tarball. Qt's host tools and Russian texts come with the test packages.
WINDOWS_PACKAGES="$TEST_PACKAGES g++-mingw-w64-x86-64-posix wine wine64 socat zip unzip xz-utils x11-utils"
# Building Qt for Windows (scripts/windows-qt): the cross compiler, the host
# Qt's tools of the same version, perl for Qt's header generator, patch and xz
# for the sources.
WINDOWS_QT_PACKAGES="g++-mingw-w64-x86-64-posix cmake ninja-build qt6-base-dev qt6-base-dev-tools perl patch xz-utils"
# The README's screenshots (scripts/screenshots).
SCREENSHOT_PACKAGES="$RUN_PACKAGES xvfb xauth imagemagick"
# The Windows picture (docs/windows-screenshot.sh): the zip's program under Wine
# in Xvfb, its menu opened by xdotool.
WINDOWS_SCREENSHOT_PACKAGES="$SCREENSHOT_PACKAGES wine wine64 unzip xdotool"

# install_missing_packages PACKAGE...: installs those not installed yet. As
# root through apt-get; otherwise through sudo only when it needs no password.
# Else it prints the command to run as root and ends the calling script, so it
# never stops halfway on a question.
# missing_packages PACKAGE...: prints those not installed, one a line.
missing_packages() {
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || echo "$p"
    done
}

install_missing_packages() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo > /dev/null && sudo -n true 2> /dev/null; then
            sudo="sudo -n"
        else
            {
                echo "Missing Debian packages: ${missing[*]}"
                echo "Install them as root, then run $0 again:"
                echo
                echo "    apt-get install --no-install-recommends ${missing[*]}"
                echo
            } >&2
            exit 1
        fi
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# cmake_launcher: the option that puts ccache in front of the compiler, when
# ccache is there.
cmake_launcher() {
    if command -v ccache > /dev/null; then echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"; fi
}
