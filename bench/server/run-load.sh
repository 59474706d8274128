#!/usr/bin/env bash
# Load and robustness run of zephyrine-httpd beside nginx, on 127.0.0.1 only, bounded in time.
#   bench/server/run-load.sh [BUILD_DIR [BASELINE_HTTPD]]
# needs BUILD_DIR/bin/zephyrine-httpd and bin/LoadClient. BASELINE_HTTPD, another build of the
# server (e.g. of an earlier commit), is loaded in the same sitting and compared too. The loads
# alternate between the servers LOAD_ROUNDS times (default 3) so that the machine's noise hits
# each alike; the summary gives medians and ratios.
# Everything started here is stopped on exit.
set -euo pipefail
build=${1:-build}
baseline=${2:-}
httpd=$build/bin/zephyrine-httpd
client=$build/bin/LoadClient
seconds=${LOAD_SECONDS:-3}
rounds=${LOAD_ROUNDS:-3}
for tool in "$httpd" "$client" ${baseline:+"$baseline"}; do
    [[ -x $tool ]] || { echo "missing $tool (build the zephyrine-httpd and LoadClient targets)" >&2; exit 2; }
done
command -v nginx >/dev/null || { echo "nginx is not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/zephyrine-load.XXXXXX)
httpd_pid=
base_pid=
nginx_pid=
cleanup() {
    [[ -n $httpd_pid ]] && kill -TERM "$httpd_pid" 2>/dev/null && wait "$httpd_pid" 2>/dev/null || true
    [[ -n $base_pid ]] && kill -TERM "$base_pid" 2>/dev/null && wait "$base_pid" 2>/dev/null || true
    [[ -n $nginx_pid ]] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
head -c 4096 /dev/urandom >"$work/www/file4k.bin"
head -c $((256 << 20)) /dev/zero >"$work/www/big.bin"
cp "$work/www/file4k.bin" "$work/www/temppack11.cab"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# zephyrine-httpd on a port it picks; the listening line names it.
coproc HTTPD { exec "$httpd" --port 0 --search-path "$work/www"; }
httpd_pid=$HTTPD_PID
read -r line <&"${HTTPD[0]}"
hport=${line##* }
if [[ -n $baseline ]]; then
    coproc BASE { exec "$baseline" --port 0 --search-path "$work/www"; }
    base_pid=$BASE_PID
    read -r line <&"${BASE[0]}"
    bport=${line##* }
fi

nport=$(free_port)
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes auto;
user root;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
    access_log off;
    client_body_temp_path $work/body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    server { listen 127.0.0.1:$nport; root $work/www; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$nport/file4k.bin" && break; sleep 0.1; done

# CPU ticks (user + system) of a process and its children.
ticks() {
    local total=0 pid
    for pid in "$1" $(pgrep -P "$1" || true); do
        [[ -r /proc/$pid/stat ]] || continue
        read -r -a f < <(sed 's/^.*) //' "/proc/$pid/stat")
        total=$((total + f[11] + f[12]))
    done
    echo "$total"
}
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)

results=$work/results
run_load() {  # name pid port concurrency
    local t0 t1 out requests rps cpu
    t0=$(ticks "$2")
    out=$("$client" load "$3" /file4k.bin "$4" "$seconds") || true
    t1=$(ticks "$2")
    requests=$(sed -n 's/.*requests=\([0-9]*\).*/\1/p' <<<"$out")
    rps=$(sed -n 's/.*rps=\([0-9]*\).*/\1/p' <<<"$out")
    cpu=$(awk -v t=$((t1 - t0)) -v r="$requests" -v hz="$hz" 'BEGIN { printf "%.1f", r ? t * 1e6 / hz / r : 0 }')
    printf '%-16s c=%-4s %s cpu_us_per_req=%s\n' "$1" "$4" "$out" "$cpu"
    echo "$1 $4 ${rps:-0} $cpu" >>"$results"
}
servers=("zephyrine-httpd $httpd_pid $hport" "nginx $nginx_pid $nport")
[[ -n $baseline ]] && servers+=("baseline $base_pid $bport")

# The memory level to come back to: after a short warm-up that pages the code in.
"$client" load "$hport" /file4k.bin 4 0.5 >/dev/null
[[ -n $baseline ]] && "$client" load "$bport" /file4k.bin 4 0.5 >/dev/null
sleep 0.5
rss_before=$(rss_kb "$httpd_pid")
echo "== 4 KiB file, one connection per request, ${seconds}s each, $rounds rounds"
for c in 1 16 128; do
    for _ in $(seq "$rounds"); do
        for s in "${servers[@]}"; do
            # shellcheck disable=SC2086
            run_load $s "$c"
        done
    done
done

best_of_3() {  # the fastest of three runs: one run is too short to stand against noise
    local best= out
    for _ in 1 2 3; do
        out=$("$@")
        if [[ -z $best ]] || awk -v a="${out##*mbps=}" -v b="${best##*mbps=}" 'BEGIN { exit !(a > b) }'; then
            best=$out
        fi
    done
    echo "$best"
}
echo "== 256 MiB download (best of 3)"
download() {  # name port
    local out
    out=$(best_of_3 "$client" download "$2" /big.bin)
    printf '%-16s %s\n' "$1" "$out"
    echo "$1 download ${out##*mbps=} 0" >>"$results"
}
download zephyrine-httpd "$hport"
download nginx "$nport"
[[ -n $baseline ]] && download baseline "$bport"
printf '%-16s %s\n' loopback-4096 "$(best_of_3 "$client" loopcopy "$work/www/big.bin")"

echo "== summary: medians; ratios of zephyrine-httpd to nginx (and to the baseline)"
awk '
    { key = $1 " " $2; n[key]++; rps[key, n[key]] = $3; cpu[key, n[key]] = $4 }
    function median(a, key,   i, j, t, v, m) {
        m = n[key]
        for (i = 1; i <= m; i++) v[i] = a[key, i]
        for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
        return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
    }
    function ratio(a, b) { return b ? sprintf("%.2f", a / b) : "-" }
    END {
        split("1 16 128", cs, " ")
        for (k = 1; k <= 3; k++) {
            c = cs[k]; z = "zephyrine-httpd " c; g = "nginx " c; b = "baseline " c
            line = sprintf("c=%-4s rps %s vs nginx %s (%sx)  cpu_us/req %s vs nginx %s (%sx)", c,
                median(rps, z), median(rps, g), ratio(median(rps, z), median(rps, g)),
                median(cpu, z), median(cpu, g), ratio(median(cpu, z), median(cpu, g)))
            if (n[b]) line = line sprintf("  baseline rps %s cpu_us/req %s (rps %sx, cpu %sx)",
                median(rps, b), median(cpu, b), ratio(median(rps, z), median(rps, b)),
                ratio(median(cpu, z), median(cpu, b)))
            print line
        }
        z = "zephyrine-httpd download"; g = "nginx download"; b = "baseline download"
        line = sprintf("download MB/s %s vs nginx %s (%sx)", rps[z, 1], rps[g, 1], ratio(rps[z, 1], rps[g, 1]))
        if (n[b]) line = line sprintf("  baseline %s (%sx)", rps[b, 1], ratio(rps[z, 1], rps[b, 1]))
        print line
    }' "$results"

echo "== 1000 idle connections held while 16 clients load"
idle_seconds=$((seconds + 3))
"$client" idle "$hport" 1000 "$idle_seconds" >"$work/idle.out" &
idle_pid=$!
sleep 1.5
rss_idle=$(rss_kb "$httpd_pid")
threads_idle=$(awk '/^Threads/ {print $2}' "/proc/$httpd_pid/status")
run_load zephyrine-httpd "$httpd_pid" "$hport" 16
wait "$idle_pid"
echo "$(tr '\n' ' ' <"$work/idle.out") server_threads_while_idle=$threads_idle rss_kb_while_idle=$rss_idle"

echo "== malformed-request storm"
"$client" storm "$hport" || echo "storm: some connections did not end"
kill -0 "$httpd_pid" && echo "server alive after storm: $(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$hport/file4k.bin")"

sleep 1.5  # ended threads are joined after a quiet interval
echo "== memory of zephyrine-httpd"
echo "rss_kb_before_load=$rss_before rss_kb_after_load=$(rss_kb "$httpd_pid") threads_after=$(awk '/^Threads/ {print $2}' "/proc/$httpd_pid/status")"
