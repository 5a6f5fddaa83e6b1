# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts here: install_missing PACKAGE... installs those of
# the given Debian packages that are not installed yet (through sudo when not
# root) and does nothing when all are there.
install_missing() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    ((${#missing[@]})) || return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
