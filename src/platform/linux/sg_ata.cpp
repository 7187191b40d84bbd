// ATA commands carried by the SCSI generic interface (sg_ata.h): ATA PASS-THROUGH (16) through
// SG_IO.
// Thread: main.
#include "platform/linux/sg_ata.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace lindrv {
namespace {

constexpr unsigned CommandTimeoutMs = 60000;  // a sleeping drive may take long to spin up

}  // namespace

ata::TAtaOutcome SendAtaCommand(int fd, const plat::TIdeRegs& regs, plat::TAtaData phase,
                                std::span<std::uint8_t> data) {
    const bool in = phase == plat::TAtaData::In512;
    if (in && data.size() < 512) return ata::TAtaOutcome::Failed;
    std::array<std::uint8_t, 16> cdb = ata::AtaPassThroughCdb(regs, phase);
    std::array<std::uint8_t, 64> sense{};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.cmdp = cdb.data();
    io.mx_sb_len = static_cast<unsigned char>(sense.size());
    io.sbp = sense.data();
    io.dxfer_direction = in ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxfer_len = in ? 512 : 0;
    io.dxferp = in ? data.data() : nullptr;
    io.timeout = CommandTimeoutMs;
    int rc;
    do rc = ioctl(fd, SG_IO, &io);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) return ata::TAtaOutcome::NoAta;
    return ata::JudgeReply(
        ata::TScsiReply{io.status, io.host_status, io.driver_status,
                        std::span<const std::uint8_t>(sense).first(std::min<std::size_t>(io.sb_len_wr, sense.size())),
                        in ? io.resid : 0});
}

}  // namespace lindrv
