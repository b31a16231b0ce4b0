#!/usr/bin/env bash
# A completed run's output survives the machine going down: the converter runs onto an existing
# output on a small ext4 image (noauto_da_alloc, so ext4 does not flush renamed files by itself),
# the file system is shut down at once as a power cut would (journal flushed, data not), and after
# remounting the output must be the whole converted file.
#   tests/power_cut.sh BINARY [TRIES]     (root only; skipped otherwise)
set -euo pipefail
binary=$(realpath "$1") tries=${2:-6}
cd "$(dirname "$0")/.."
if [[ $EUID != 0 ]] || ! command -v mkfs.ext4 >/dev/null || ! losetup -f >/dev/null 2>&1; then
    echo "power cut: skipped (needs root, mkfs.ext4 and a loop device)"
    exit 0
fi
work=$(mktemp -d) mnt=$(mktemp -d)
trap 'umount "$mnt" 2>/dev/null || true; rm -rf "$work" "$mnt"' EXIT
truncate -s 32M "$work/fs.img" && mkfs.ext4 -q -F "$work/fs.img"
"$binary" examples/twinkle.mid "$work/expected.mid" >/dev/null
complete=0
for ((try = 1; try <= tries; try++)); do
    mount -o loop,noauto_da_alloc "$work/fs.img" "$mnt"
    head -c 300000 /dev/urandom >"$mnt/out.mid" && sync
    "$binary" examples/twinkle.mid "$mnt/out.mid" >/dev/null
    # EXT4_IOC_SHUTDOWN with EXT4_GOING_FLAGS_LOGFLUSH: the journal reaches the disk, data does not.
    python3 -c 'import fcntl, os, struct, sys
fd = os.open(sys.argv[1], os.O_RDONLY); fcntl.ioctl(fd, 0x8004587D, struct.pack("I", 1))' "$mnt"
    umount "$mnt" && mount -o loop "$work/fs.img" "$mnt"
    cmp -s "$mnt/out.mid" "$work/expected.mid" && complete=$((complete + 1))
    umount "$mnt"
done
echo "power cut: $complete of $tries outputs complete after the cut"
[[ $complete == "$tries" ]]
