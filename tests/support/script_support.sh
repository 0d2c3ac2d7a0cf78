# Sourced by the test scripts: what they check and set up alike.

# need_tools TOOL...: a test that cannot run here is skipped (exit 77), naming what is missing.
need_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIPPED: $tool is not installed (tools/install-deps installs it)"
            exit 77
        fi
    done
}

# use_wine_prefix FOLDER: Wine runs in a 64-bit prefix of the test's own, without .NET, the
# browser engine or menu entries, which nothing here needs.
use_wine_prefix() {
    export WINEPREFIX="$1" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
}

# wait_until TENTHS COMMAND...: runs COMMAND every tenth of a second until it succeeds, at most
# TENTHS times; fails when it never did.
wait_until() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
