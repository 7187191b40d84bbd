#!/bin/busybox sh
# /init of the check VM: loads the storage drivers, waits for the first disk, lets hdparm and
# smartctl describe it, runs ph-vmcheck and powers off. Everything goes to the serial console,
# sections framed by @@ markers ("@@DISK name 512-byte-sectors logical-sector-size" for each disk);
# the kernel command line says what to run:
#   ph.steps=STEP,STEP...   the ph-vmcheck steps
#   ph.disks=NAME,NAME...   the disks to wait for; the first is described (default sda)
#   ph.tools=1              run hdparm -I and smartctl -i -A on it
#   ph.nvmetools=1          run nvme smart-log and smartctl -A on /dev/nvme0
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for module in $(cat /modules.list); do
    insmod "/modules/$module" 2>/dev/null
done

steps=detect
disks=sda
tools=0
nvmetools=0
for word in $(cat /proc/cmdline); do
    case "$word" in
        ph.steps=*) steps=$(echo "${word#ph.steps=}" | tr ',' ' ') ;;
        ph.disks=*) disks=$(echo "${word#ph.disks=}" | tr ',' ' ') ;;
        ph.tools=*) tools=${word#ph.tools=} ;;
        ph.nvmetools=*) nvmetools=${word#ph.nvmetools=} ;;
    esac
done

for disk in $disks; do
    tries=0
    while [ ! -b "/dev/$disk" ] && [ $tries -lt 300 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
done
disk=${disks%% *}
# The kernel's own complaints about the bad sectors stay out of the screens.
echo 1 > /proc/sys/kernel/printk
# what the kernel says of each disk: its size in 512-byte sectors and its logical sector size
for d in /sys/block/*; do
    echo "@@DISK ${d##*/} $(blockdev --getsz "/dev/${d##*/}") $(blockdev --getss "/dev/${d##*/}")"
done

if [ "$tools" = 1 ]; then
    echo "@@TOOL hdparm"
    hdparm -I "/dev/$disk" 2>&1
    echo "@@ENDTOOL"
    echo "@@TOOL smartctl"
    smartctl -i -A "/dev/$disk" 2>&1
    echo "@@ENDTOOL"
fi

if [ "$nvmetools" = 1 ]; then
    echo "@@TOOL nvme"
    nvme smart-log /dev/nvme0 2>&1
    echo "@@ENDTOOL"
    echo "@@TOOL smartctl-nvme"
    smartctl -A /dev/nvme0 2>&1
    echo "@@ENDTOOL"
fi

/ph-vmcheck $steps
echo "@@VMCHECK RC $?"
echo "@@TOOL dmesg"
dmesg | tail -n 40
echo "@@ENDTOOL"
poweroff -f
