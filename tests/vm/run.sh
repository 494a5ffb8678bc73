#!/bin/bash
# The virtual-machine stage: boots Debian's own kernel under QEMU with a tiny initramfs holding the
# static programs, so that cellwatch meets the kernel's real serial drivers (cdc-acm, the
# usb-serial core on a USB gadget with the generic, option and sierra drivers, and a 16550 UART)
# where a pseudo-terminal cannot stand in; and a Debian root whose PID 1 is Debian's own systemd,
# with the project's package installed, for the unit under the real service manager.
#
# usage: tests/vm/run.sh [--build DIR] PROGRAMS MODEMSIM WORK [GUEST...]
#   --build   the CMake build whose Debian package the systemd guest installs (cpack is run)
#   PROGRAMS  a directory with static cellwatch and cellwatch-check (the musl build)
#   MODEMSIM  a static modemsim
#   WORK      where the cache, the initramfs and each guest's console log go
#   GUEST     the guests to boot (default: all of them, at once; systemd only with --build)
#
# Fetches, once, with apt-get download: the kernel package that linux-image-amd64 depends on and
# busybox-static; with mmdebstrap, a minimal root of this machine's Debian release with systemd.
# They go into WORK/cache and are reused. Each guest runs its cases and reports one console line
# per case, "CASE <name> PASS|FAIL <detail>", then "GUEST <name> DONE"; tests/vm/check.sh reads
# them. Exit status: 0 when every guest booted and reported its end, whatever the cases found;
# 1 otherwise, with the console log named.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=""
if [ "${1:-}" = --build ]; then
    build=$(cd "$2" && pwd)
    shift 2
fi
[ $# -ge 3 ] || { sed -n '8,13p' "$0" >&2; exit 2; }
programs=$(cd "$1" && pwd)
modemsim=$(readlink -f "$2")
work=$(mkdir -p "$3" && cd "$3" && pwd)
shift 3
guests=("$@")
if [ ${#guests[@]} -eq 0 ]; then
    guests=(acm-life acm-plug serial wwan)
    [ -z "$build" ] || guests+=(systemd)
fi
# Hard limit for one boot: a guest that never reports is a failure, its console kept. The systemd
# guest has more cases, among them a failover whose next run comes 10 s later, under emulation
# and beside the rest of the suite.
BOOT_LIMIT=150
SYSTEMD_BOOT_LIMIT=240

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
         dummy_hcd cdc-acm usbserial usb_wwan option sierra g_serial dummy; do
    cp "$(find "$unpacked/lib/modules" -name "$m.ko" | head -1)" "$root/mods/"
done
cp "$programs/cellwatch" "$programs/cellwatch-check" "$root/usr/sbin/"
cp "$modemsim" "$root/usr/bin/modemsim"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 > "$work/initramfs.gz")

# The systemd guest's root: a minimal Debian of this machine's release with systemd, made once
# with mmdebstrap and kept as a tar, then for each run the project's package installed into it
# with dpkg, as a user would, and the cases beside it. systemd starts from the initramfs itself.
systemd_root() {
    local release packages tar sd deb router_deb
    release=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
    packages=systemd,systemd-sysv,net-tools,iproute2,busybox,procps,kmod,hostname
    tar="$cache/debian-$release-$(echo "$packages" | md5sum | cut -c1-8).tar"
    if [ ! -f "$tar" ]; then
        echo "vm: making a Debian $release root with systemd into $tar" >&2
        mmdebstrap --quiet --format=tar --variant=minbase --include="$packages" "$release" \
            "$tar.tmp" >&2
        mv "$tar.tmp" "$tar"
    fi
    rm -rf "$work/deb"
    (cd "$build" && cpack -G DEB -B "$work/deb" > "$work/cpack.log" 2>&1) ||
        { cat "$work/cpack.log" >&2; return 1; }
    deb=$(first_of "$work/deb/cellwatch_*.deb")
    router_deb=$(first_of "$work/deb/cellwatch-router_*.deb")
    sd="$work/systemd-root"
    rm -rf "$sd"
    mkdir -p "$sd"
    tar -C "$sd" -xf "$tar"
    cp "$deb" "$router_deb" "$sd/tmp/"
    chroot "$sd" dpkg -i "/tmp/$(basename "$deb")" "/tmp/$(basename "$router_deb")" \
        > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; return 1; }
    rm -f "$sd/tmp/$(basename "$deb")" "$sd/tmp/$(basename "$router_deb")"
    rm -rf "$sd"/usr/share/{doc,locale,man,info,perl} "$sd"/usr/lib/x86_64-linux-gnu/{perl,gconv}
    mkdir -p "$sd/opt/bb" "$sd/mods" "$sd/scenarios"
    chroot "$sd" /bin/busybox --install -s /opt/bb
    cp "$root"/mods/*.ko "$sd/mods/"
    cp "$here/cases.sh" "$here/systemd-guest.sh" "$here/dhcp-steps.sh" "$sd/"
    cp "$here"/scenarios/*.scn "$sd/scenarios/"
    cp "$modemsim" "$sd/usr/bin/modemsim"
    cat > "$sd/etc/systemd/system/cellwatch-guest.service" <<'UNIT'
[Unit]
Description=cellwatch's cases under systemd
After=basic.target

[Service]
Type=oneshot
Environment=PATH=/opt/bb:/usr/sbin:/usr/bin:/sbin:/bin
ExecStart=/opt/bb/sh /systemd-guest.sh
StandardOutput=tty
TTYPath=/dev/ttyS0

[Install]
WantedBy=multi-user.target
UNIT
    ln -s /etc/systemd/system/cellwatch-guest.service \
        "$sd/etc/systemd/system/multi-user.target.wants/cellwatch-guest.service"
    (cd "$sd" && find . | cpio -o -H newc --quiet > "$work/systemd.cpio")
}
for g in "${guests[@]}"; do
    [ "$g" != systemd ] || systemd_root
done

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
    local initrd="$work/initramfs.gz" memory=256 init="" limit=$BOOT_LIMIT
    if [ "$guest" = systemd ]; then
        initrd="$work/systemd.cpio" memory=768 init="rdinit=/lib/systemd/systemd"
        limit=$SYSTEMD_BOOT_LIMIT
    fi
    timeout -s KILL "$limit" qemu-system-x86_64 "${accel[@]}" -nodefaults -no-reboot \
        -m "$memory" -smp 1 -display none -monitor none -serial "file:$work/$guest.console" "$@" \
        -kernel "$vmlinuz" -initrd "$initrd" \
        -append "console=ttyS0 quiet panic=-1 cellwatch.guest=$guest $init" \
        > "$work/$guest.qemu.log" 2>&1 || true
}

# Starts modemsim on scenario $1 with its output in WORK/$2.out and its log in WORK/$2.log, and
# modemsim's options that follow; sets sim to its pid and pts to the pty it serves.
start_host_modem() {
    local scenario=$1 name=$2
    shift 2
    "$modemsim" "$@" "$here/scenarios/$scenario.scn" > "$work/$name.out" 2> "$work/$name.log" &
    sim=$!
    pts=""
    for _ in $(seq 50); do
        pts=$(head -1 "$work/$name.out" 2>/dev/null || true)
        [ -n "$pts" ] && break
        sleep 0.1
    done
}

# The UART guest's second 16550 is a host pty that modemsim serves. QEMU's tty backend asks the
# pty for its modem lines, which a pty has none of, so the guest sees carrier (DCD) low. The
# third 16550's modemsim takes no output until the guest's console says "UART-DRAIN RESUME":
# output queued in the guest's driver at cellwatch's close must then go out.
boot_serial() {
    local control="$work/uart-drain.control" sim pts sims=()
    rm -f "$control"
    mkfifo "$control"
    exec {steps}<> "$control"
    start_host_modem healthy uart-modem
    sims+=("$sim")
    local healthy_pts=$pts
    start_host_modem stalled uart-drain-modem --control 3 3<&"$steps"
    sims+=("$sim")
    local console="$work/serial.console"
    (for _ in $(seq $(( BOOT_LIMIT * 10 ))); do
        if grep -qa '^UART-DRAIN RESUME' "$console" 2>/dev/null; then
            echo 'stall off' >&"$steps"
            break
        fi
        sleep 0.1
    done) &
    local watcher=$!
    boot serial -chardev "serial,id=modem,path=$healthy_pts" -serial chardev:modem \
        -chardev "serial,id=drain,path=$pts" -serial chardev:drain
    kill "${sims[@]}" "$watcher" 2>/dev/null || true
    wait "${sims[@]}" "$watcher" 2>/dev/null || true
    exec {steps}>&-
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
        echo "vm: guest $g did not report its end in time; console: $work/$g.console"
        status=1
    fi
    grep -a '^CASE ' "$work/$g.console" 2>/dev/null || true
done
echo "vm: ${#guests[@]} guests in $(( $(date +%s) - start )) s"
exit $status
