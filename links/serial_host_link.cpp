#include "links/serial_host_link.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace dorv::links {

bool SerialHostLink::AssignLine(std::uint8_t line, const std::string& path) {
    if (line >= kLineCount) return false;
    auto hold = HoldLine(line);
    paths_[line] = path;
    CloseLine(line);
    return true;
}

namespace {

// USB serial adapters hold received bytes back for their latency timer (16 ms by default on
// common chips), which would add up to 16 ms to every 37 ms exchange. Ask the kernel driver for
// low latency; devices without the setting (built-in ports, pseudo-terminals) just refuse.
void RequestLowLatency(int fd) {
#if defined(__linux__)
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
}

}  // namespace

int SerialHostLink::OpenStream(std::uint8_t line, ByteStream& stream) {
    if (paths_[line].empty()) return ENXIO;
    // Not our controlling terminal; and a device without carrier must not block the open.
    const int fd = ::open(paths_[line].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (!::isatty(fd)) {
        ::close(fd);
        return ENOTTY;
    }
    RequestLowLatency(fd);
    stream = ByteStream(fd, ByteStream::Kind::Tty);
    return 0;
}

int SerialHostLink::ApplySettings(ByteStream& stream, const LineSettings& settings) {
    const auto speed = TermiosSpeed(settings.baud);
    if (settings.format != kFormat8N1 || !speed) return EINVAL;
    termios t{};
    if (::tcgetattr(stream.Fd(), &t) != 0) return errno;
    ::cfmakeraw(&t);
    // 8 data bits, no parity, one stop bit; no modem control lines, no flow control.
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // With the descriptor non-blocking, VMIN 1 makes read() say EAGAIN when nothing is waiting
    // and 0 only when the device hung up, so the two are never confused.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, *speed) != 0 || ::cfsetospeed(&t, *speed) != 0) return errno;
    if (::tcsetattr(stream.Fd(), TCSANOW, &t) != 0) return errno;
    return 0;
}

std::chrono::milliseconds SerialHostLink::SendTime(const LineSettings& settings, std::size_t bytes) const {
    if (settings.baud <= 0) return std::chrono::milliseconds{0};
    // Ten bit times a byte: start, eight data bits, stop. Rounded up.
    const long long bits = static_cast<long long>(bytes) * 10;
    return std::chrono::milliseconds((bits * 1000 + settings.baud - 1) / settings.baud);
}

}  // namespace dorv::links
