# Shared by the shell tests: counted failures and bounded polling. Source it.

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Polls `check` every 50 ms until it succeeds or `seconds` pass.
poll() {
    local seconds="$1"
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [[ $SECONDS -ge $deadline ]] && return 1
        sleep 0.05
    done
}
