# Installs the Debian packages the build and the tests need, when missing.
# Sourced by scripts/run and scripts/test.
PACKAGES="g++ cmake ninja-build pkg-config qt6-base-dev libgtest-dev libbenchmark-dev libmodbus-dev xvfb xauth fonts-dejavu-core imagemagick clang libclang-rt-14-dev"

install_missing_packages() {
    local missing=()
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
