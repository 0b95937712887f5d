#!/usr/bin/env bash
# CTest fixture: broker.sh setup|start|stop DIR. Runs a mosquitto broker of its own on free ports
# of 127.0.0.1, with everything it needs in DIR, and writes the ports to DIR/ports:
#   port        anonymous clients
#   authPort    the user alice, password secret, only
#   tlsPort     TLS with a certificate for localhost, signed by DIR/ca.crt
#   tlsOtherPort TLS with a certificate for elsewhere.test, signed by the same CA
# setup starts afresh; start and stop leave DIR, so that a test can stop the broker and start it
# again on the same ports with what it kept (sessions and retained messages persist).
# MORVANE_BROKER_LOG: what the broker logs (mosquitto's log types), all unless given.
set -euo pipefail
action=$1
dir=$2
pid=$dir/broker.pid

stop() {
    [ -e "$pid" ] || return 0
    local broker
    broker=$(cat "$pid")
    rm -f "$pid"
    kill "$broker" 2>/dev/null || return 0
    # Gone, and its state saved, before the ports are used again.
    for _ in {1..100}; do
        kill -0 "$broker" 2>/dev/null || return 0
        sleep 0.05
    done
    kill -9 "$broker" 2>/dev/null || true
}

certificates() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Morvane Test CA" \
        -keyout "$dir/ca.key" -out "$dir/ca.crt" 2>/dev/null
    local name
    for name in localhost elsewhere.test; do
        openssl req -newkey rsa:2048 -nodes -subj "/CN=$name" \
            -keyout "$dir/$name.key" -out "$dir/$name.csr" 2>/dev/null
        openssl x509 -req -days 30 -in "$dir/$name.csr" -CA "$dir/ca.crt" -CAkey "$dir/ca.key" \
            -CAcreateserial -extfile <(printf 'subjectAltName=DNS:%s\n' "$name") \
            -out "$dir/$name.crt" 2>/dev/null
    done
    mosquitto_passwd -c -b "$dir/passwd" alice secret
}

configure() {
    # As root mosquitto would drop to the user mosquitto, who cannot read DIR.
    cat >"$dir/broker.conf" <<CONF
user $(id -un)
per_listener_settings true
persistence true
persistence_location $dir/
log_dest file $dir/broker.log
$(printf 'log_type %s\n' ${MORVANE_BROKER_LOG:-all})
connection_messages true
listener $port 127.0.0.1
allow_anonymous true
listener $authPort 127.0.0.1
allow_anonymous false
password_file $dir/passwd
listener $tlsPort 127.0.0.1
allow_anonymous true
cafile $dir/ca.crt
certfile $dir/localhost.crt
keyfile $dir/localhost.key
listener $tlsOtherPort 127.0.0.1
allow_anonymous true
cafile $dir/ca.crt
certfile $dir/elsewhere.test.crt
keyfile $dir/elsewhere.test.key
CONF
}

# Starts the broker on the configured ports; false if it could not listen on all of them.
launch() {
    local log_start
    log_start=$(stat -c %s "$dir/broker.log" 2>/dev/null || echo 0)
    setsid mosquitto -c "$dir/broker.conf" </dev/null >>"$dir/broker.out" 2>&1 &
    echo "$!" >"$pid"
    for _ in {1..100}; do
        kill -0 "$(cat "$pid")" 2>/dev/null || break
        if tail -c +"$((log_start + 1))" "$dir/broker.log" 2>/dev/null | grep -q ' running$'; then
            return 0
        fi
        sleep 0.05
    done
    stop
    return 1
}

case $action in
setup)
    stop
    rm -rf "$dir"
    mkdir -p "$dir"
    certificates
    # Four ports nobody listens on; another program may take one first, so try again.
    for _ in {1..20}; do
        read -r port authPort tlsPort tlsOtherPort <<<"$(shuf -i 20000-60000 -n 4 | xargs)"
        configure
        if launch; then
            printf 'port=%s\nauthPort=%s\ntlsPort=%s\ntlsOtherPort=%s\n' \
                "$port" "$authPort" "$tlsPort" "$tlsOtherPort" >"$dir/ports"
            exit 0
        fi
    done
    echo "mosquitto did not start:" >&2
    tail -n 20 "$dir/broker.log" "$dir/broker.out" >&2
    exit 1
    ;;
start)
    stop
    launch || { tail -n 20 "$dir/broker.log" >&2; exit 1; }
    ;;
stop) stop ;;
*) echo "usage: broker.sh setup|start|stop DIR" >&2 && exit 2 ;;
esac
