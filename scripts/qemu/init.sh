#!/bin/busybox sh
# /init of the check VM: loads the storage drivers, waits for the first disk, lets hdparm and
# smartctl describe it, runs ph-vmcheck (or the unattended platenhawk) and powers off. Everything
# goes to the serial console, sections framed by @@ markers ("@@DISK name 512-byte-sectors
# logical-sector-size" for each disk); the kernel command line says what to run:
#   ph.steps=STEP,STEP...   the ph-vmcheck steps
#   ph.disks=NAME,NAME...   the disks to wait for; the first is described (default sda)
#   ph.tools=1              run hdparm -I and smartctl -i -A on it
#   ph.nvmetools=1          run nvme smart-log and smartctl -A on /dev/nvme0
#   ph.scan=1               instead of ph-vmcheck, the unattended `platenhawk --scan` of the disk:
#                           its progress lines (@@SCAN), status, summary and JSON report, and what
#                           is left of the disk afterwards (@@AFTER)
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
scan=0
for word in $(cat /proc/cmdline); do
    case "$word" in
        ph.steps=*) steps=$(echo "${word#ph.steps=}" | tr ',' ' ') ;;
        ph.disks=*) disks=$(echo "${word#ph.disks=}" | tr ',' ' ') ;;
        ph.tools=*) tools=${word#ph.tools=} ;;
        ph.nvmetools=*) nvmetools=${word#ph.nvmetools=} ;;
        ph.scan=*) scan=${word#ph.scan=} ;;
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

if [ "$scan" = 1 ]; then
    exec 3<"/dev/$disk"  # held open, to read through once the scan is over
    echo "@@SCAN"
    # stderr through a pipe: one progress line a percent rather than one line redrawn in place
    (/platenhawk --scan "/dev/$disk" --reports /tmp/reports 2>&1 >/tmp/summary; echo $? >/tmp/status) | cat
    echo "@@END"
    echo "@@SCAN STATUS $(cat /tmp/status)"
    echo "@@SUMMARY"
    cat /tmp/summary
    echo "@@END"
    echo "@@JSON"
    cat /tmp/reports/*.json
    echo
    echo "@@END"
    echo "@@AFTER"
    echo "/sys/block: $(ls /sys/block | tr '\n' ' ')"
    echo "/dev/$disk: $(ls -l "/dev/$disk" 2>&1)"
    echo "a read of sector 100000 through the descriptor held open:"
    dd bs=512 count=1 skip=100000 of=/dev/null <&3 2>&1
    echo "@@END"
else
    /ph-vmcheck $steps
    echo "@@VMCHECK RC $?"
fi
echo "@@TOOL dmesg"
dmesg | tail -n 40
echo "@@ENDTOOL"
poweroff -f
