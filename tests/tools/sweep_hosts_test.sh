#!/usr/bin/env bash
# brevo-sweep over an sshd of ours on 127.0.0.1 and 127.0.0.2, and ":", against the local sweep; stopped and resumed.
set -euo pipefail
brevo=$1 src=$2 t=$(mktemp -d) sshd=""
trap '[ -z "$sshd" ] || kill "$sshd"; rm -rf "$t"' EXIT; trap 'exit 1' INT TERM HUP
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$t" && ssh-keygen -q -t ed25519 -N '' -f host && ssh-keygen -q -t ed25519 -N '' -f user && mkdir home
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Sessions start in $t/home, where parallel's work folders go; at SHLVL 1 bash skips ~/.bashrc.
printf '%s\n' "ListenAddress 127.0.0.1:$port" "ListenAddress 127.0.0.2:$port" "HostKey $t/host" "PidFile $t/sshd.pid" \
  "AuthorizedKeysFile $t/user.pub" "StrictModes no" "SetEnv SHLVL=1" \
  "ForceCommand cd $t/home && exec bash -c \"\$SSH_ORIGINAL_COMMAND\"" >"$t/sshd_config"
printf '1/%s\n' 127.0.0.1 127.0.0.2 : >hosts
export HOME=$t/home PARALLEL_SSH="ssh -F /dev/null -p $port -i $t/user -o BatchMode=yes -o StrictHostKeyChecking=no \
-o UserKnownHostsFile=/dev/null"
[ ! -x /usr/sbin/sshd ] || { mkdir -p /run/sshd || :; /usr/sbin/sshd -D -e -f "$t/sshd_config" 2>log & sshd=$!; }
until $PARALLEL_SSH 127.0.0.2 true 2>/dev/null; do
  [ -n "$sshd" ] && kill -0 "$sshd" 2>/dev/null && sleep 0.1 || { sshd=""; echo "SKIP: no sshd: $(cat log 2>&1)"; exit 77; }
done
printf '#!/bin/bash\necho "$PARALLEL_SEQ" >>%q/ran\nwhile [ "$PARALLEL_SEQ" = 4 ] && [ -e %q/block ]; do sleep 0.1; done
exec %q "$@"\n' "$t" "$t" "$brevo" >brevo && chmod +x brevo   # Brevo noting each run; run 4 hangs while block exists
sweep() {   # sweep STATUS OPTION...: the example sweep, which must end with STATUS
  "$src/tools/brevo-sweep" cases="$src/examples/cases.txt" "${@:2}" "$src/examples/link.cf" >/dev/null 2>>err && s=0 || s=$?
  [ "$s" = "$1" ] || fail "status $s of $*: $(cat err)"
}
sweep 1 out=local exe="$brevo"   # its last case fails
for mode in yes no; do
  sweep 1 out=$mode hosts=hosts transfer=$mode exe="$t/brevo"
  cmp local/summary.csv $mode/summary.csv || fail "transfer=$mode: another summary.csv"
  [ "$(cut -f2 $mode/jobs/joblog | grep -c '^127\.0\.0\.[12]$')" -ge 2 ] || fail "transfer=$mode: not on the hosts"
done
rm ran && : >block
sweep 3 out=resumed hosts=hosts exe="$t/brevo" & pid=$!
until grep -qx 4 ran 2>/dev/null; do kill -0 $pid 2>/dev/null || fail "the sweep ended before run 4 hung"; sleep 0.1; done
pkill -TERM -P $pid && wait $pid && rm block ran   # -P: the sweep, child of the subshell running sweep
finished=$(awk 'NR > 1 { print $1 }' resumed/jobs/joblog) && [ -n "$finished" ] || fail "no run ended before the stop"
for r in $finished; do [ "$(grep "^000$r," resumed/summary.csv)" = "$(grep "^000$r," local/summary.csv)" ] || fail "row $r"; done
[ "$(grep -c ',stopped,' resumed/summary.csv)" = $((5 - $(ls resumed/*.status | wc -l))) ] || fail "stopped rows"
sweep 1 out=resumed hosts=hosts exe="$t/brevo" resume=yes
cmp local/summary.csv resumed/summary.csv || fail "resume=yes: another summary.csv"
for r in $finished; do ! grep -qx "$r" ran || fail "run $r ran again"; done
