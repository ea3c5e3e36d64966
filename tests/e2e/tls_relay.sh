#!/usr/bin/env bash
# A tesk-relay behind nginx over TLS, and a network namespace for the computer, for the launcher's browser
# test. Needs root (ip netns), nginx and openssl.
#   tls_relay.sh start DIR RELAY   a namespace "tesk-e2e-<pid>" joined to this one by a veth pair (this side
#                                  10.231.76.1, the computer's 10.231.76.2); RELAY (the tesk-relay binary)
#                                  on loopback trusting 127.0.0.1 as its proxy; nginx on every address at a
#                                  free port with a self-signed certificate for both addresses. Writes
#                                  DIR/relay.json: {"ns", "port", "spki", "ca"}, spki being the base64 SHA-256
#                                  of the certificate's public key, which Chromium can be told to trust.
#   tls_relay.sh stop DIR          stops both and removes the namespace
set -euo pipefail
action=${1:?usage: tls_relay.sh start DIR RELAY | stop DIR}
dir=${2:?usage: tls_relay.sh start DIR RELAY | stop DIR}
mkdir -p "$dir"

stop() {
    [ -f "$dir/nginx.pid" ] && kill "$(cat "$dir/nginx.pid")" 2>/dev/null || true
    [ -f "$dir/relay.pid" ] && kill "$(cat "$dir/relay.pid")" 2>/dev/null || true
    [ -f "$dir/ns" ] && ip netns delete "$(cat "$dir/ns")" 2>/dev/null || true
    rm -f "$dir/nginx.pid" "$dir/relay.pid" "$dir/ns" "$dir/relay.json"
}

free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 30000))
        ss -Hltn "sport = :$port" | grep -q . || { echo "$port"; return; }
    done
}

case "$action" in
start)
    relay=${3:?usage: tls_relay.sh start DIR RELAY}
    stop
    ns="tesk-e2e-$$"
    ip netns add "$ns"
    echo "$ns" >"$dir/ns"
    # Interface names are at most 15 bytes.
    ip link add "tkv$$a" type veth peer name "tkv$$b"
    ip link set "tkv$$b" netns "$ns"
    ip addr add 10.231.76.1/30 dev "tkv$$a"
    ip link set "tkv$$a" up
    ip netns exec "$ns" ip addr add 10.231.76.2/30 dev "tkv$$b"
    ip netns exec "$ns" ip link set "tkv$$b" up
    ip netns exec "$ns" ip link set lo up
    ip netns exec "$ns" ip route add default via 10.231.76.1

    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=tesk-e2e" \
        -addext "subjectAltName=IP:127.0.0.1,IP:10.231.76.1" -keyout "$dir/key.pem" -out "$dir/cert.pem" \
        2>"$dir/openssl.log"
    spki=$(openssl x509 -in "$dir/cert.pem" -pubkey -noout | openssl pkey -pubin -outform der |
        openssl dgst -sha256 -binary | base64)

    relay_log="$dir/relay.log"
    "$relay" --port 0 --store "sqlite:$dir/relay.sqlite" --trusted-proxy 127.0.0.1 >"$relay_log" 2>&1 &
    echo $! >"$dir/relay.pid"
    relay_port=
    for _ in $(seq 100); do
        relay_port=$(sed -n 's/^tesk-relay listening on port \([0-9]*\)$/\1/p' "$relay_log")
        [ -n "$relay_port" ] && break
        sleep 0.1
    done
    [ -n "$relay_port" ] || { echo "tls_relay.sh: tesk-relay did not start:" >&2; cat "$relay_log" >&2; exit 1; }

    port=$(free_port)
    mkdir -p "$dir/nginx"
    cat >"$dir/nginx.conf" <<EOF
user root;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
events {}
http {
    access_log off;
    client_body_temp_path $dir/nginx/body;
    proxy_temp_path $dir/nginx/proxy;
    fastcgi_temp_path $dir/nginx/fastcgi;
    uwsgi_temp_path $dir/nginx/uwsgi;
    scgi_temp_path $dir/nginx/scgi;
    server {
        listen $port ssl;
        ssl_certificate $dir/cert.pem;
        ssl_certificate_key $dir/key.pem;
        location / {
            proxy_pass http://127.0.0.1:$relay_port;
            proxy_set_header Host \$host;
            proxy_set_header X-Forwarded-For \$proxy_add_x_forwarded_for;
            proxy_set_header X-Forwarded-Proto https;
        }
    }
}
EOF
    nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log"
    printf '{"ns": "%s", "port": %s, "spki": "%s", "ca": "%s"}\n' "$ns" "$port" "$spki" "$dir/cert.pem" \
        >"$dir/relay.json"
    ;;
stop) stop ;;
*)
    echo "usage: tls_relay.sh start DIR RELAY | stop DIR" >&2
    exit 2
    ;;
esac
