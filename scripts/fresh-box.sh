#!/usr/bin/env bash
# Proves the README's two set-up commands on a fresh machine: makes a minimal Debian
# root (debootstrap --variant=minbase, from the mirror this machine's apt sources name),
# copies a clean `git archive HEAD` of the project and the shared data folder beside it
# into that root, and runs `bash scripts/demo.sh` and `bash scripts/test.sh` there under
# chroot with a clean environment, as root. Ends non-zero, naming the command and its
# last lines, when either fails. Needs root.
#
# The bare base system is kept as a tarball in $BREVO_FRESH_BOX_CACHE
# (/var/cache/brevo-fresh-box by default), so later runs skip the debootstrap; each run
# unpacks it into a new folder, which is removed, with every mount, on any way out.
#
# Inside, BREVO_FRESH_BOX=1 is set: .ci/run does not start another fresh box, and the
# test command skips its sanitizer half there, since the outer run has just done it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shared=$(cd "$root/.." && pwd)/shared
cache=${BREVO_FRESH_BOX_CACHE:-/var/cache/brevo-fresh-box}
[ "$(id -u)" -eq 0 ] || { echo "fresh-box: needs root (debootstrap, chroot, mounts)" >&2; exit 2; }
command -v git >/dev/null || { echo "fresh-box: needs git for git archive" >&2; exit 2; }

# The release and mirror this machine uses (deb822 sources or the one-line form).
. /etc/os-release
suite=${VERSION_CODENAME:?fresh-box: no VERSION_CODENAME in /etc/os-release}
mirror=$(awk '/^URIs:/ && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || :)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || :)
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian

if ! command -v debootstrap >/dev/null; then
  echo "fresh-box: installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap >/dev/null
fi

box=""
mounts=()
cleanup() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || :
  done
  if [ -n "$box" ] && [ -d "$box" ]; then
    # Never follow a mount that is somehow still there into the host's /dev or /proc.
    if findmnt -rn -o TARGET | grep -q "^$box/"; then
      echo "fresh-box: $box still has mounts; left in place" >&2
    else
      rm -rf --one-file-system "$box"
    fi
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

base="$cache/$suite-minbase.tar"
if [ ! -s "$base" ]; then
  echo "fresh-box: debootstrap --variant=minbase $suite from $mirror (kept in $base)"
  mkdir -p "$cache"
  stage=$(mktemp -d "$cache/stage.XXXXXX")
  if ! debootstrap --variant=minbase "$suite" "$stage" "$mirror" >"$cache/debootstrap.log" 2>&1; then
    echo "fresh-box: debootstrap failed; its last lines:" >&2
    tail -n 20 "$cache/debootstrap.log" >&2
    rm -rf --one-file-system "$stage"
    exit 1
  fi
  tar -C "$stage" -cf "$base.part" . && mv "$base.part" "$base"
  rm -rf --one-file-system "$stage"
fi

box=$(mktemp -d "${TMPDIR:-/tmp}/brevo-fresh-box.XXXXXX")
chmod 755 "$box"   # mktemp makes it 0700; apt inside drops to its own user
tar -C "$box" -xf "$base"
# The machine's own package sources and name service, so apt inside reaches the same mirror.
rm -f "$box/etc/apt/sources.list"
mkdir -p "$box/etc/apt/sources.list.d"
if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
  cp /etc/apt/sources.list.d/*.sources "$box/etc/apt/sources.list.d/"
fi
[ ! -s /etc/apt/sources.list ] || cp /etc/apt/sources.list "$box/etc/apt/sources.list"
cp -L /etc/resolv.conf "$box/etc/resolv.conf" 2>/dev/null || :

# The project as committed, and the shared data beside it, as in a checkout.
mkdir -p "$box/work/project" "$box/work/shared"
git -C "$root" archive HEAD | tar -C "$box/work/project" -xf -
if [ -d "$shared" ]; then cp -a "$shared/." "$box/work/shared/"; fi

for m in proc sys dev dev/pts; do
  mkdir -p "$box/$m"
  case $m in
    proc) mount -t proc proc "$box/proc" ;;
    sys) mount -t sysfs sys "$box/sys" ;;
    dev) mount --bind /dev "$box/dev" ;;
    dev/pts) mount -t devpts devpts "$box/dev/pts" ;;
  esac
  mounts+=("$box/$m")
done
mkdir -p "$box/dev/shm"
mount -t tmpfs -o size=2g tmpfs "$box/dev/shm"
mounts+=("$box/dev/shm")

# run NAME COMMAND: the command in the box, as root, with nothing of this environment.
run() {
  local name=$1 out="$box/work/$1.out" status=0
  echo "fresh-box: $2"
  chroot "$box" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb BREVO_FRESH_BOX=1 /bin/bash -c "cd /work/project && $2" </dev/null >"$out" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "fresh-box: '$2' failed with status $status in a fresh $suite system; its last lines:" >&2
    tail -n 40 "$out" >&2
    exit 1
  fi
  tail -n "${3:-3}" "$out"
}

run demo "bash scripts/demo.sh" 40
grep -q "S/N" "$box/work/demo.out" || { echo "fresh-box: the demo printed no report" >&2; exit 1; }
run test "bash scripts/test.sh" 5
# A test that skips in the box tests nothing there: name any.
grep -E '\*\*\*Skipped|Not Run' "$box/work/test.out" || :
echo "fresh-box: both commands passed in a fresh $suite system"
