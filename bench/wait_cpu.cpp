// CPU used while the link waits: an exchange whose reply comes late, and a
// handshake with no detector answering. Prints wall time, CPU time and their
// ratio for each.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "model/crc16.h"
#include "link/tamsel_comms.h"

namespace {
double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Measure {
    std::chrono::steady_clock::time_point wall0 = std::chrono::steady_clock::now();
    double cpu0 = CpuSeconds();
    void Print(const char *what, int status) const
    {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = CpuSeconds() - cpu0;
        std::printf("%-38s status %3d  wall %6.3f s  cpu %6.3f s  cpu/wall %5.1f %%\n", what, status, wall, cpu,
                    100.0 * cpu / wall);
    }
};
} // namespace

int main()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    termios tio{};
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);

    TComTamsel link;
    link.SetPortDevice(1, ptsname(master));
    link.ComOpen(1);

    // A detector that answers a 20-byte identity request after 1.5 s.
    std::thread late([master] {
        uint8_t req[3];
        size_t got = 0;
        while (got < 3) {
            const ssize_t n = read(master, req + got, 3 - got);
            if (n > 0)
                got += static_cast<size_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        uint8_t reply[20] = {2, 5, 14, 1};
        const uint16_t crc = CRC16(reply, 18);
        reply[18] = static_cast<uint8_t>(crc >> 8);
        reply[19] = static_cast<uint8_t>(crc);
        (void)!write(master, reply, sizeof reply);
    });
    Measure slow;
    const uint8_t s1 = link.SendCommand(0, 0xA0, 20, 3.0f);
    slow.Print("exchange, reply after 1.5 s", s1);
    late.join();

    Measure timeout;
    const uint8_t s2 = link.SendCommand(0, 0xA0, 20, 2.0f);
    timeout.Print("exchange, no reply (2 s time-out)", s2);

    // The handshake writes a wake-up frame every 1.05 ms; drain them.
    std::thread drain([master] {
        uint8_t buf[256];
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0)
                (void)!read(master, buf, sizeof buf);
        }
    });
    Measure absent;
    const uint8_t s3 = link.ConnectTamsel(2.0f);
    absent.Print("handshake, detector absent (2 s)", s3);
    drain.join();
    link.ComClose();
    close(master);
    return 0;
}
