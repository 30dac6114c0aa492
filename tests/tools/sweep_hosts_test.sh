#!/usr/bin/env bash
# brevo-sweep on 127.0.0.1 and 127.0.0.2 (an sshd of our own) and ":" gives the local sweep's summary.csv, transfer=yes
# and =no; a sweep stopped while run 4 hangs keeps the ended runs' rows, and resume=yes ends it without running them again.
set -euo pipefail
brevo=$1 src=$2 t=$(mktemp -d) sshd="" tries=0
trap '[ -z "$sshd" ] || kill "$sshd"; rm -rf "$t"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
ssh-keygen -q -t ed25519 -N '' -f "$t/host" && ssh-keygen -q -t ed25519 -N '' -f "$t/user" && mkdir "$t/home"
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Sessions start in $t/home, where parallel's work folders go; at SHLVL 1 bash skips ~/.bashrc.
printf '%s\n' "ListenAddress 127.0.0.1:$port" "ListenAddress 127.0.0.2:$port" "HostKey $t/host" "UsePAM no" \
  "AuthorizedKeysFile $t/user.pub" "PidFile $t/sshd.pid" "StrictModes no" "PermitRootLogin prohibit-password" \
  "SetEnv SHLVL=1" "ForceCommand cd $t/home && exec bash -c \"\$SSH_ORIGINAL_COMMAND\"" >"$t/sshd_config"
printf '1/%s\n' 127.0.0.1 127.0.0.2 : >"$t/hosts"
export HOME=$t/home PARALLEL_SSH="ssh -p $port -i $t/user -o BatchMode=yes -o LogLevel=ERROR \
  -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null"
# /run/sshd is sshd's own folder, which root may make.
[ ! -x /usr/sbin/sshd ] || { mkdir -p /run/sshd || :; /usr/sbin/sshd -D -e -f "$t/sshd_config" 2>"$t/log" & sshd=$!; }
until $PARALLEL_SSH 127.0.0.2 true 2>/dev/null; do
  [ -n "$sshd" ] && kill -0 "$sshd" 2>/dev/null || { sshd=""; echo "SKIP: no sshd: $(cat "$t/log" 2>&1)"; exit 77; }
  ((++tries < 100)) && sleep 0.1 || fail "no ssh session: $(cat "$t/log")"
done
# Brevo noting the number of each run, and hanging in run 4 while $t/block exists
printf '#!/bin/bash\necho "$PARALLEL_SEQ" >>%q/ran\nwhile [ "$PARALLEL_SEQ" = 4 ] && [ -e %q/block ]; do : >%q/blocked; sleep 0.1; done
exec %q "$@"\n' "$t" "$t" "$t" "$brevo" >"$t/brevo" && chmod +x "$t/brevo"
sweep() {   # sweep STATUS OPTION...: the example sweep, which must end with STATUS
  local s=0
  "$src/tools/brevo-sweep" cases="$src/examples/cases.txt" "${@:2}" "$src/examples/link.cf" >/dev/null 2>>"$t/err" || s=$?
  [ "$s" = "$1" ] || fail "status $s of $*: $(cat "$t/err")"
}
sweep 1 out="$t/local" exe="$brevo"   # its last case fails
for mode in yes no; do
  sweep 1 out="$t/$mode" hosts="$t/hosts" transfer=$mode exe="$t/brevo"
  cmp "$t/local/summary.csv" "$t/$mode/summary.csv" || fail "transfer=$mode: another summary.csv"
  [ "$(cut -f2 "$t/$mode/jobs/joblog" | grep -c '^127\.0\.0\.[12]$')" -ge 2 ] || fail "transfer=$mode: not on the hosts"
done
: >"$t/block"
sweep 3 out="$t/resumed" hosts="$t/hosts" exe="$t/brevo" & pid=$!
until [ -e "$t/blocked" ]; do kill -0 $pid 2>/dev/null || fail "the sweep ended before run 4 hung"; sleep 0.1; done
pkill -TERM -P $pid && wait $pid && rm "$t/block" "$t/ran"   # -P: the sweep, child of the subshell running sweep
finished=$(awk 'NR > 1 { print $1 }' "$t/resumed/jobs/joblog") && [ -n "$finished" ] || fail "no run ended before the stop"
for r in $finished; do [ "$(grep "^000$r," "$t/resumed/summary.csv")" = "$(grep "^000$r," "$t/local/summary.csv")" ] || fail "row $r"; done
[ "$(grep -c ',stopped,' "$t/resumed/summary.csv")" = $((5 - $(ls "$t"/resumed/*.status | wc -l))) ] || fail "stopped rows"
sweep 1 out="$t/resumed" hosts="$t/hosts" exe="$t/brevo" resume=yes
cmp "$t/local/summary.csv" "$t/resumed/summary.csv" || fail "resume=yes: another summary.csv"
for r in $finished; do ! grep -qx "$r" "$t/ran" || fail "run $r ran again"; done
