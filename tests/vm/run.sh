#!/bin/bash
# The virtual-machine stage: boots Debian's own kernel under QEMU with a tiny initramfs holding the
# static programs, so that cellwatch meets the kernel's real serial drivers (cdc-acm, the
# usb-serial core on a USB gadget, and a 16550 UART) where a pseudo-terminal cannot stand in.
#
# usage: tests/vm/run.sh PROGRAMS MODEMSIM WORK [GUEST...]
#   PROGRAMS  a directory with static cellwatch and cellwatch-check (the musl build)
#   MODEMSIM  a static modemsim
#   WORK      where the cache, the initramfs and each guest's console log go
#   GUEST     the guests to boot (default: all of them, at once)
#
# Fetches, once, with apt-get download: the kernel package that linux-image-amd64 depends on and
# busybox-static; they are unpacked into WORK/cache and reused. Each guest runs its cases and
# reports one console line per case, "CASE <name> PASS|FAIL <detail>", then "GUEST <name> DONE";
# tests/vm/check.sh reads them. Exit status: 0 when every guest booted and reported its end,
# whatever the cases found; 1 otherwise, with the console log named.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 3 ] || { sed -n '6,11p' "$0" >&2; exit 2; }
programs=$(cd "$1" && pwd)
modemsim=$(readlink -f "$2")
work=$(mkdir -p "$3" && cd "$3" && pwd)
shift 3
guests=("$@")
[ ${#guests[@]} -gt 0 ] || guests=(acm-life acm-plug serial)
# Hard limit for one boot: a guest that never reports is a failure, its console kept.
BOOT_LIMIT=150

cache="$work/cache"
mkdir -p "$cache"

# The first path that glob $1 matches, or nothing.
first_of() {
    for f in $1; do
        [ -e "$f" ] && { echo "$f"; return; }
    done
}

# Downloads package $1 into the cache once; prints the .deb's path.
fetch() {
    local deb
    deb=$(first_of "$cache/$1_*.deb")
    if [ -z "$deb" ]; then
        echo "vm: fetching $1 into $cache" >&2
        (cd "$cache" && { apt-get download "$1" >/dev/null 2>&1 ||
                          { apt-get update -qq && apt-get download "$1" >/dev/null; }; })
        deb=$(first_of "$cache/$1_*.deb")
    fi
    echo "$deb"
}

kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
                 awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
[ -n "$kernel_package" ] || { echo "vm: cannot tell which kernel linux-image-amd64 needs" >&2; exit 1; }
kernel_deb=$(fetch "$kernel_package")
busybox_deb=$(fetch busybox-static)
unpacked="$cache/$(basename "$kernel_deb" .deb)"
if [ ! -d "$unpacked" ]; then
    dpkg-deb -x "$kernel_deb" "$unpacked.tmp"
    mv "$unpacked.tmp" "$unpacked"
fi
[ -x "$cache/busybox" ] || dpkg-deb --fsys-tarfile "$busybox_deb" | tar -xO ./bin/busybox > "$cache/busybox"
chmod 755 "$cache/busybox"
vmlinuz=$(first_of "$unpacked/boot/vmlinuz-*")

# The initramfs: busybox, the guest's init and cases, the modules the cases load, the programs.
root="$work/initramfs"
rm -rf "$root"
mkdir -p "$root"/{bin,mods,usr/sbin,usr/bin,scenarios}
cp "$cache/busybox" "$root/bin/busybox"
cp "$here/init" "$root/init"
cp "$here/cases.sh" "$root/cases.sh"
cp "$here"/scenarios/*.scn "$root/scenarios/"
for m in configfs usb-common usbcore udc-core libcomposite u_serial usb_f_acm usb_f_serial \
         dummy_hcd cdc-acm usbserial g_serial; do
    cp "$(find "$unpacked/lib/modules" -name "$m.ko" | head -1)" "$root/mods/"
done
cp "$programs/cellwatch" "$programs/cellwatch-check" "$root/usr/sbin/"
cp "$modemsim" "$root/usr/bin/modemsim"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 > "$work/initramfs.gz")

# KVM only where it really runs a guest: nested virtualisation often offers a /dev/kvm whose
# guests never get past the kernel's decompressor, and print nothing more. A probe boot tells
# within seconds, by the kernel's first line; CELLWATCH_VM_ACCEL=kvm or tcg decides instead.
PROBE_LIMIT=15
kvm_boots() {
    [ -w /dev/kvm ] || return 1
    local console="$work/kvm-probe.console"
    rm -f "$console"
    qemu-system-x86_64 -accel kvm -nodefaults -no-reboot -m 128 -display none -monitor none \
        -serial "file:$console" -kernel "$vmlinuz" -append "console=ttyS0 earlyprintk=ttyS0" \
        > "$work/kvm-probe.qemu.log" 2>&1 &
    local qemu=$! booted=1
    for _ in $(seq $(( PROBE_LIMIT * 10 ))); do
        grep -qa "Linux version" "$console" 2>/dev/null && { booted=0; break; }
        kill -0 "$qemu" 2>/dev/null || break
        sleep 0.1
    done
    kill "$qemu" 2>/dev/null || true
    wait "$qemu" 2>/dev/null || true
    return $booted
}
case ${CELLWATCH_VM_ACCEL:-} in
    kvm) accel=(-accel kvm); why="as CELLWATCH_VM_ACCEL asks" ;;
    tcg) accel=(-accel tcg); why="as CELLWATCH_VM_ACCEL asks" ;;
    "") if kvm_boots; then
            accel=(-accel kvm); why="a probe guest booted with it"
        else
            accel=(-accel tcg)
            why="KVM is not offered here, or a probe guest printed nothing under it within ${PROBE_LIMIT} s"
        fi ;;
    *) echo "vm: CELLWATCH_VM_ACCEL is kvm or tcg, not '$CELLWATCH_VM_ACCEL'" >&2; exit 2 ;;
esac
echo "vm: ${accel[1]} ($why)"

# Boots guest $1 with its console in WORK/$1.console; extra QEMU words follow.
boot() {
    local guest=$1
    shift
    timeout -s KILL "$BOOT_LIMIT" qemu-system-x86_64 "${accel[@]}" -nodefaults -no-reboot \
        -m 256 -smp 1 -display none -monitor none -serial "file:$work/$guest.console" "$@" \
        -kernel "$vmlinuz" -initrd "$work/initramfs.gz" \
        -append "console=ttyS0 quiet panic=-1 cellwatch.guest=$guest" \
        > "$work/$guest.qemu.log" 2>&1 || true
}

# The UART guest's second 16550 is a host pty that modemsim serves. QEMU's tty backend asks the
# pty for its modem lines, which a pty has none of, so the guest sees carrier (DCD) low.
boot_serial() {
    "$modemsim" "$here/scenarios/healthy.scn" > "$work/uart-modem.out" 2> "$work/uart-modem.log" &
    local sim=$!
    local pts=""
    for _ in $(seq 50); do
        pts=$(head -1 "$work/uart-modem.out" 2>/dev/null || true)
        [ -n "$pts" ] && break
        sleep 0.1
    done
    boot serial -chardev "serial,id=modem,path=$pts" -serial chardev:modem
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
}

start=$(date +%s)
pids=()
for g in "${guests[@]}"; do
    rm -f "$work/$g.console"
    if [ "$g" = serial ]; then boot_serial & else boot "$g" & fi
    pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done

status=0
for g in "${guests[@]}"; do
    if ! grep -q "^GUEST $g DONE" "$work/$g.console" 2>/dev/null; then
        echo "vm: guest $g did not report its end within ${BOOT_LIMIT} s; console: $work/$g.console"
        status=1
    fi
    grep -a '^CASE ' "$work/$g.console" 2>/dev/null || true
done
echo "vm: ${#guests[@]} guests in $(( $(date +%s) - start )) s"
exit $status
