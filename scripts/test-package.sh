#!/usr/bin/env bash
# The station's package as a station gets it: built, accepted by lintian, its unit passed by
# systemd-analyze verify, unpacked into a scratch root, and the unpacked service started on the
# example station file switched to a dorv-emulator line: /healthz, a filling, a backup of the
# running database checked, restored and started on. Where mount namespaces are allowed it is
# also installed and purged on an overlay of this machine's root. Under a minute once built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh dpkg-dev lintian systemd sqlite3 man-db file >/dev/null
deb=$(scripts/package.sh)
echo "package: $deb"

lintian --fail-on error "$deb"
echo "lintian: no error"

root=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$root"
fail() { echo "test-package: $*" >&2; exit 1; }
for f in usr/bin/dorv-forecourt usr/bin/dorv-emulator etc/dorv/station.toml usr/lib/systemd/system/dorv-forecourt.service \
         usr/lib/dorv-forecourt/libDorv5000.so.2 usr/share/man/man1/dorv-forecourt.1.gz; do
    [ -e "$root/$f" ] || fail "$f is not in the package"
done
dpkg-deb -I "$deb" conffiles | grep -x /etc/dorv/station.toml >/dev/null || fail "the station file is not a conffile"
for f in usr/bin/dorv-forecourt usr/bin/dorv-emulator; do
    if file -L "$root/$f" | grep 'not stripped' >/dev/null; then fail "$f is not stripped"; fi
done
ldd "$root/usr/bin/dorv-forecourt" | grep -F "libDorv5000.so.2 => $root/usr/bin/../lib/dorv-forecourt/" >/dev/null ||
    fail "the service does not find the driver the package carries"

# Verified inside the scratch root, so ExecStart= and the manual page are the package's own;
# the system's units (the targets it starts after) are copied in beside it. Warnings (an
# unknown key is only one) fail the check too.
unit="$root/usr/lib/systemd/system/dorv-forecourt.service"
cp -rn /lib/systemd/system/. "$root/usr/lib/systemd/system/"
verdict=$(MANPATH="$root/usr/share/man" systemd-analyze verify --root="$root" "$unit" 2>&1) && [ -z "$verdict" ] ||
    fail "systemd-analyze verify: $verdict"
echo "systemd-analyze verify: passed"

# Where the kernel lets us mount, a whole install and purge (the maintainer scripts) runs on a
# throwaway overlay of this machine's root; the machine itself is not changed.
overlay="$root/overlay"
mkdir -p "$overlay/upper" "$overlay/work" "$overlay/merged"
cp "$deb" "$overlay/pkg.deb"
if unshare -m true 2>/dev/null; then
    unshare -m sh -euc '
        cd "$1"
        mount -t overlay overlay -o lowerdir=/,upperdir=upper,workdir=work merged
        mount --bind /proc merged/proc
        mount --bind /dev merged/dev
        chroot merged sh -euc "
            dpkg -i $1/pkg.deb >/dev/null
            id -nG dorv | grep -qw dialout
            [ \"\$(stat -c %U:%G:%a /var/lib/dorv /etc/dorv/station.toml)\" = \"dorv:dorv:750
root:dorv:640\" ]
            su -s /bin/sh dorv -c \"dorv-forecourt --check-config /etc/dorv/station.toml\" >/dev/null
            dpkg --purge dorv-forecourt >/dev/null
            ! dpkg-statoverride --list /etc/dorv/station.toml
        "' sh "$overlay" || fail "installing or purging the package failed"
    echo "dpkg -i and --purge on an overlay: passed"
else
    echo "dpkg -i and --purge on an overlay: skipped (no mount namespace here)"
fi

# The example as shipped passes the check; then its line goes to an emulator.
"$root/usr/bin/dorv-forecourt" --check-config "$root/etc/dorv/station.toml" >/dev/null || fail "the example station file is refused"
emu_out="$root/emulator.out"
"$root/usr/bin/dorv-emulator" --listen 127.0.0.1:0 --control 127.0.0.1:0 --baud 0 --flow 20 >"$emu_out" &
pids+=($!)
for _ in $(seq 50); do grep -q '^control ' "$emu_out" 2>/dev/null && break; sleep 0.1; done
line=$(sed -n 's/^listen //p' "$emu_out")
control=$(sed -n 's/^control //p' "$emu_out")
[ -n "$line" ] && [ -n "$control" ] || fail "the emulator did not start"
config="$root/station.toml"
sed -e "s|^device = .*|tcp = \"$line\"\nemulator = \"$control\"|" \
    -e "s|^database = .*|database = \"$root/var/lib/dorv/forecourt.db\"|" \
    -e "s|^listen = .*|listen = \"127.0.0.1:0\"|" "$root/etc/dorv/station.toml" >"$config"
mkdir -p "$root/var/lib/dorv"
"$root/usr/bin/dorv-forecourt" --check-config "$config" | grep "^line 1: tcp $line" >/dev/null || fail "--check-config does not show the line"

out="$root/service.out"
DORV_WINDIR="$root/var/lib/dorv" "$root/usr/bin/dorv-forecourt" --config "$config" >"$out" 2>&1 &
service=$!
pids+=($service)
for _ in $(seq 100); do grep -q '/api/v1' "$out" && break; sleep 0.1; done
api=$(grep -o 'http://[^ ]*/api/v1' "$out") || fail "the service did not start: $(cat "$out")"
curl -sf "${api%/api/v1}/healthz" >/dev/null || fail "/healthz does not answer"
echo "installed service: up at $api"

state() { curl -sf "$api/pumps/1" | grep -o '"state":"[a-z]*"' | cut -d'"' -f4; }
until_state() {
    for _ in $(seq 200); do [ "$(state)" = "$1" ] && return 0; sleep 0.1; done
    fail "pump 1 never became $1"
}
curl -sf -X POST -H 'Content-Type: application/json' "$api/emulator/pumps/1/lift" -d '{"nozzle": 1}' >/dev/null
until_state calling
curl -sf -X POST -H 'Content-Type: application/json' "$api/pumps/1/authorize" -d '{"nozzle": 1, "preset": {"volume": 5}}' >/dev/null
until_state finished
"$root/usr/bin/dorv-forecourt" backup --database "$root/var/lib/dorv/forecourt.db" --to "$root/backup.db" >/dev/null
[ "$(sqlite3 "$root/backup.db" 'PRAGMA integrity_check')" = ok ] || fail "the backup fails its check"
[ "$(sqlite3 "$root/backup.db" "SELECT COUNT(*) FROM sales WHERE state = 'payable'")" = 1 ] || fail "the backup lacks the sale"
kill -TERM "$service"
wait "$service" || fail "the service did not stop cleanly"
echo "installed service: filled, backed up, stopped"

# Restored as the README says, the copy is what the service starts on.
db="$root/var/lib/dorv/forecourt.db"
rm -f "$db" "$db-wal" "$db-shm"
install -m 640 "$root/backup.db" "$db"
: >"$out"
DORV_WINDIR="$root/var/lib/dorv" "$root/usr/bin/dorv-forecourt" --config "$config" >"$out" 2>&1 &
service=$!
pids+=($service)
for _ in $(seq 100); do grep -q '/api/v1' "$out" && break; sleep 0.1; done
api=$(grep -o 'http://[^ ]*/api/v1' "$out") || fail "the service did not start on the restored copy: $(cat "$out")"
curl -sf "$api/sales?state=payable" | grep '"pump":1' >/dev/null || fail "the restored database lacks the sale"
kill -TERM "$service"
wait "$service" || fail "the service on the restored copy did not stop cleanly"
echo "installed service: restored from the backup, sale there"

# A damaged database is refused with the status the unit does not restart on.
head -c 8192 /dev/urandom >"$root/damaged.db"
status=0
"$root/usr/bin/dorv-forecourt" --config "$config" --database "$root/damaged.db" 2>"$out" || status=$?
[ "$status" = 3 ] && grep damaged "$out" >/dev/null || fail "a damaged database gave status $status: $(cat "$out")"
echo "installed service: a damaged database refused"
