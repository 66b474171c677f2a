# Sourced by the window-server benchmarks. start_demo_server PROGRAM starts the
# demonstration's window server on a free port and opens its window the way
# the page does (bootstrap, then a first ping), leaving $server (the process),
# $port and $token for the caller; stop_demo_server ends it and removes its
# output file, and is safe to call at any point.
server=""
server_output=""

start_demo_server() {
    server_output=$(mktemp)
    "$1" --demo serve --no-browser --port 0 >"$server_output" 2>&1 &
    server=$!
    for _ in $(seq 50); do grep -q 'k=' "$server_output" && break; sleep 0.1; done
    local link key
    link=$(grep -o 'http://127.0.0.1:[0-9]*/#k=[0-9a-f]*' "$server_output")
    port=$(sed -E 's#http://127.0.0.1:([0-9]+)/.*#\1#' <<<"$link")
    key=${link##*#k=}
    token=$(curl -s -X POST -d "{\"k\":\"$key\"}" "http://127.0.0.1:$port/api/bootstrap" |
        sed -E 's/.*"token":"([0-9a-f]+)".*/\1/')
    curl -s -X POST -H "x-quillmoor-token: $token" "http://127.0.0.1:$port/api/ping" >/dev/null
}

stop_demo_server() {
    if [[ -n $server ]]; then kill "$server" 2>/dev/null || true; fi
    if [[ -n $server_output ]]; then rm -f "$server_output"; fi
}
