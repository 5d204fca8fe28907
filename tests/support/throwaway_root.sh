#!/bin/sh
# throwaway_root.sh DIR SHARED COMMAND...: runs COMMAND (as root) in a
# throwaway copy of this machine, whose changes go to DIR and nowhere else:
# an overlay of / with its upper layer in DIR, in mount, network, PID, UTS
# and IPC namespaces of its own (only a loopback, up), with a /proc of its
# own, /sys and /dev bound in, an empty /run and /tmp, and the folder SHARED
# at /mnt/shared. Every process in it ends with COMMAND. DIR must be new or
# empty; remove it afterwards.
set -eu
[ $# -ge 3 ] || { echo "usage: throwaway_root.sh DIR SHARED COMMAND..." >&2; exit 2; }
dir=$1 shared=$2
shift 2
mkdir -p "$dir/upper" "$dir/work" "$dir/root"
exec unshare --mount --net --pid --uts --ipc --fork --propagation private sh -eu -c '
  dir=$1 shared=$2
  shift 2
  root=$dir/root
  mount -t overlay throwaway -o "lowerdir=/,upperdir=$dir/upper,workdir=$dir/work" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=0755 run "$root/run"
  mount -t tmpfs -o mode=1777 tmp "$root/tmp"
  mkdir -p "$root/mnt/shared"
  mount --bind "$shared" "$root/mnt/shared"
  ip link set lo up
  hostname throwaway
  exec chroot "$root" "$@"
' throwaway-root "$dir" "$shared" "$@"
