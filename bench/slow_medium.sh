#!/usr/bin/env bash
# Runs the batch benchmark on a slow medium made here and takes it down again:
# an ext4 file system on a loop device whose backing file lies on a FUSE file
# system (bench/delay_fs.cpp) that makes every write request wait WRITE_US and
# every cache flush wait FLUSH_US microseconds, like a USB stick or an SD card.
# Needs root (loop devices, mount). Arguments go to bench.sh --slow-medium,
# e.g. --files 1000 --repeats 3.
set -euo pipefail
cd "$(dirname "$0")/.."

WRITE_US=${WRITE_US:-1000}   # one write request to the medium
FLUSH_US=${FLUSH_US:-5000}   # one flush of the medium's cache
SIZE_MIB=256                 # the slow file system; 1,000 tiles need 8 MiB

if [ "$(id -u)" -ne 0 ]; then
    echo "bench/slow_medium.sh needs root for the loop device and the mounts" >&2
    exit 1
fi
scripts/setup.sh fuse3 libfuse3-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 --target ks_bench ks_delay_fs

work=$(mktemp -d /tmp/ks-slow-medium.XXXXXX)
mkdir "$work/fuse" "$work/mnt"
loop="" fs_pid=""
cleanup() {
    mountpoint -q "$work/mnt" && umount "$work/mnt"
    [ -n "$loop" ] && losetup -d "$loop"
    if [ -n "$fs_pid" ]; then
        mountpoint -q "$work/fuse" && fusermount3 -u "$work/fuse"
        wait "$fs_pid" || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

truncate -s "${SIZE_MIB}M" "$work/backing"
mkfs.ext4 -q -F "$work/backing"
build-bench/bench/ks_delay_fs "$work/backing" "$work/fuse" "$WRITE_US" "$FLUSH_US" &
fs_pid=$!
timeout 5 sh -c "until [ -e '$work/fuse/disk' ]; do sleep 0.1; done"
loop=$(losetup --find --show "$work/fuse/disk")
mount "$loop" "$work/mnt"
echo "slow medium: ext4 on $loop over a FUSE file, ${WRITE_US} us per write request, ${FLUSH_US} us per cache flush"
./bench.sh --slow-medium "$work/mnt" --out "$work/bench.json" "$@"
