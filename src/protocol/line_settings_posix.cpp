#include "protocol/line_settings_posix.h"

#include "protocol/serial_link.h"

namespace zb {

std::optional<speed_t> baud_to_speed(std::uint32_t baud) {
    struct Pair {
        std::uint32_t baud;
        speed_t speed;
    };
    static constexpr Pair speeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Pair& p : speeds)
        if (p.baud == baud) return p.speed;
    return std::nullopt;
}

std::optional<termios> make_termios(const termios& base, std::uint32_t baud, std::uint32_t parity,
                                    std::uint8_t databits, std::uint8_t two_stop,
                                    std::uint32_t flow) {
    const std::optional<speed_t> speed = baud_to_speed(baud);
    if (!speed) return std::nullopt;

    termios t = base;
    cfmakeraw(&t);
    // Reads are bounded by poll; the driver itself must never block a read.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, *speed);
    cfsetospeed(&t, *speed);

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    switch (databits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        case 8:
            t.c_cflag |= CS8;
            break;
        default:
            return std::nullopt;
    }

    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    switch (parity & 0xFF) {
        case 0:
            break;
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return std::nullopt;
    }
    // Parity checking follows the parity setting.
    if ((parity & 0xFF) != 0) t.c_iflag |= INPCK;

    if (two_stop != 0)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);

    if (flow == FLOW_RTSCTS)
        t.c_cflag |= CRTSCTS;
    else
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (flow == FLOW_XONXOFF)
        t.c_iflag |= IXON | IXOFF;
    else
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    return t;
}

}  // namespace zb
