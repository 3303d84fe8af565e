// Wall time, wire-time bound and CPU share of the device jobs over the
// simulated detector at 115200 baud.
//
// The line. The simulator paces its replies (one byte every 86.8 us after
// its turnaround) but takes the program's requests off the pty at once. A
// relay between the program and the simulator gives the requests the same
// pace: it takes what the program writes and hands each write to the
// simulator when its last byte would have left a 115200-baud UART. So both
// directions cost line time, as on the adapter. With --direct the relay
// passes requests on at once; the bound then counts the reply direction only.
//
// The bound. Everything the link cannot do faster on such a line:
//   bytes of every request and reply x 10 bits / 115200
//   + 1 ms settle pause after every exchange, + 4 ms after every firmware block
//   + the simulator's turnaround before every reply
//   + per handshake: 1.05 ms per wake-up frame (its bytes, the turnaround and
//     the acknowledge fit into that pacing) and the two 1 ms pauses at its end.
// The simulator writes a reply's first byte as soon as its turnaround is
// over, so it delivers a reply one byte time sooner than a UART would: the
// least this rig can take ("floor") is the bound less one byte time per reply.
//
// CPU. getrusage(RUSAGE_THREAD) of the thread that runs the job; the
// simulator and the relay run on their own threads and are not counted.
//
// Where the time goes. The relay time-stamps every request it takes and
// every reply byte it passes on, so each job's time beyond the floor splits
// into the program's share (from job start to its first request, from the
// end of each reply to the next request less the pause the link must make,
// and from the last reply to the end of the job), the simulator's lateness
// beyond its turnaround and pacing, and the relay's lateness.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/app_state.h"
#include "app/device_actions.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/user_store.h"
#include "app/eeprom_job.h"
#include "app/event_log_job.h"
#include "app/firmware_job.h"
#include "link/discovery.h"
#include "link/tamsel_comms.h"
#include "model/config_form.h"
#include "model/settings_types.h"
#include "sim/sim_detector.h"
#include "sim/sim_memory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kByteSeconds = 10.0 / 115200.0;
const auto kByteTime = std::chrono::nanoseconds(1000000000LL * 10 / 115200);
constexpr double kSettle = 1e-3;        // after every exchange
constexpr double kBlockPause = 4e-3;    // after every firmware block
constexpr double kWakePacing = 1.05e-3; // between two wake-up frames
constexpr double kHandshakeEnd = 2e-3;  // the two 1 ms pauses that end a handshake

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the calling thread, user and system. (The sum is exact; the
// kernel splits it between the two by sampling, so only the sum is used.)
double ThreadCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

timespec ToTimespec(Clock::duration d)
{
    const auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

void MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

// A screen that shows nothing: it answers save dialogs with one file and
// keeps the last message box, so a failed job can say why.
class TSilentScreen : public IScreen {
public:
    std::string FSavePath;
    std::string FLastMessage;

    void SetStatus(RColor, RColor, const std::string &) override {}
    void ProcessMessages() override {}
    void Message(const std::string &caption, const std::string &text, MsgIcon) override
    {
        FLastMessage = caption + ": " + text;
    }
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
    std::optional<std::string> ChooseOpenFile(const FileChoice &) override { return std::nullopt; }
    std::optional<std::string> ChooseSaveFile(const FileChoice &) override
    {
        if (FSavePath.empty())
            return std::nullopt;
        return FSavePath;
    }
    void AppendTraffic(const std::string &) override {}
};

// ---------------------------------------------------------------- the relay

struct RLineEvent {
    enum Kind : uint8_t { kRequest, kDelivered, kReply };
    Kind mKind;
    Clock::time_point mTime;
    Clock::time_point mDue; // kDelivered: when the last byte would have arrived
    int mCount;
    uint8_t mFirst; // first byte (requests)
};

class TPacedRelay {
public:
    ~TPacedRelay() { Stop(); }

    bool Start(const std::string &simDevice, bool pace, std::string &error)
    {
        FPace = pace;
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0 ||
            ptsname_r(FMaster, name, sizeof name) != 0) {
            error = std::string("pty: ") + std::strerror(errno);
            return false;
        }
        MakeRaw(FMaster);
        fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
        FProgramDevice = name;
        // Held open for good, so the master never sees a hang-up while the
        // program has its port closed between two jobs. It never reads.
        FKeep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        FSim = ::open(simDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (FKeep < 0 || FSim < 0 || pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
            error = std::string("relay open: ") + std::strerror(errno);
            return false;
        }
        MakeRaw(FSim);
        FEvents.reserve(1 << 16);
        FThread = std::thread([this] { Run(); });
        return true;
    }

    void Stop()
    {
        if (FThread.joinable()) {
            FStop = true;
            const uint8_t b = 1;
            [[maybe_unused]] ssize_t r = ::write(FWake[1], &b, 1);
            FThread.join();
        }
        for (int *fd : {&FMaster, &FKeep, &FSim, &FWake[0], &FWake[1]})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }

    const std::string &ProgramDevice() const { return FProgramDevice; }

    std::vector<RLineEvent> TakeEvents()
    {
        std::lock_guard lock(FMutex);
        std::vector<RLineEvent> out;
        out.swap(FEvents);
        FEvents.reserve(1 << 16);
        return out;
    }

private:
    struct RChunk {
        std::vector<uint8_t> mBytes;
        Clock::time_point mDue;
    };

    void Record(const RLineEvent &e)
    {
        std::lock_guard lock(FMutex);
        FEvents.push_back(e);
    }

    static void WriteAll(int fd, const uint8_t *data, size_t count)
    {
        int tries = 0;
        while (count > 0) {
            const ssize_t n = ::write(fd, data, count);
            if (n > 0) {
                data += n;
                count -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN && ++tries < 100) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 10);
                continue;
            }
            return;
        }
    }

    void Deliver(const RChunk &c)
    {
        WriteAll(FSim, c.mBytes.data(), c.mBytes.size());
        Record({RLineEvent::kDelivered, Clock::now(), c.mDue, static_cast<int>(c.mBytes.size()), c.mBytes[0]});
    }

    void Run()
    {
        // Deadlines of a byte time or so: keep the kernel from rounding sleeps up.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        uint8_t buf[4096];
        while (!FStop) {
            auto now = Clock::now();
            while (!FQueue.empty() && FQueue.front().mDue <= now) {
                Deliver(FQueue.front());
                FQueue.pop_front();
                now = Clock::now();
            }
            timespec ts{};
            timespec *timeout = nullptr;
            if (!FQueue.empty()) {
                ts = ToTimespec(FQueue.front().mDue - now);
                timeout = &ts;
            }
            pollfd fds[3] = {{FMaster, POLLIN, 0}, {FSim, POLLIN, 0}, {FWake[0], POLLIN, 0}};
            const int r = ppoll(fds, 3, timeout, nullptr);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(FMaster, buf, sizeof buf);
                if (n > 0) {
                    const auto t = Clock::now();
                    Record({RLineEvent::kRequest, t, t, static_cast<int>(n), buf[0]});
                    RChunk c{std::vector<uint8_t>(buf, buf + n), t};
                    if (FPace) {
                        const auto start = std::max(t, FLineFree);
                        c.mDue = start + kByteTime * n;
                        FLineFree = c.mDue;
                        FQueue.push_back(std::move(c));
                    } else {
                        Deliver(c);
                    }
                }
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::read(FSim, buf, sizeof buf);
                if (n > 0) {
                    // Stamped before it is passed on: the program cannot have it sooner.
                    const auto t = Clock::now();
                    WriteAll(FMaster, buf, static_cast<size_t>(n));
                    Record({RLineEvent::kReply, t, {}, static_cast<int>(n), buf[0]});
                }
            } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                return; // the simulator is gone
            }
            if (fds[2].revents & POLLIN) {
                while (::read(FWake[0], buf, sizeof buf) > 0) {
                }
            }
        }
    }

    bool FPace = true;
    int FMaster = -1, FKeep = -1, FSim = -1;
    int FWake[2] = {-1, -1};
    std::string FProgramDevice;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::mutex FMutex;
    std::vector<RLineEvent> FEvents;
    std::deque<RChunk> FQueue; // relay thread only
    Clock::time_point FLineFree{};
};

// ---------------------------------------------------------------- the bound

using TFrames = std::vector<std::vector<uint8_t>>;

bool IsWakeUp(const std::vector<uint8_t> &f) { return f.size() == 3 && f[0] == 0xB2 && f[1] == 0x75 && f[2] == 0x80; }

struct RBound {
    int mRequests = 0, mReplies = 0, mExchanges = 0, mBlocks = 0, mHandshakes = 0, mWakeFrames = 0;
    long mRequestBytes = 0, mReplyBytes = 0; // requests without the wake-up frames
    long mLineBytes = 0;                      // every byte on the line, both directions
    double mSeconds = 0; // the bound
    double mFloor = 0;   // what this rig can do at best
};

// From what the simulator received and sent. `blocks`: frames that follow a
// 0x91/0x93 request are firmware blocks (the firmware job only).
RBound ComputeBound(const TFrames &frames, const TFrames &replies, int dropped, double latency, bool blocks,
                    bool paced)
{
    RBound b;
    double handshakes = 0;
    bool inBurst = false;
    int burst = 0;
    auto endBurst = [&] {
        if (!inBurst)
            return;
        handshakes += (burst - 1) * kWakePacing + std::max(kWakePacing, 6 * kByteSeconds + latency) + kHandshakeEnd;
        ++b.mHandshakes;
        inBurst = false;
        burst = 0;
    };
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto &f = frames[i];
        ++b.mRequests;
        b.mLineBytes += static_cast<long>(f.size());
        if (IsWakeUp(f)) {
            inBurst = true;
            ++burst;
            ++b.mWakeFrames;
            continue;
        }
        endBurst();
        ++b.mExchanges;
        b.mRequestBytes += static_cast<long>(f.size());
        if (blocks && i > 0 && frames[i - 1].size() == 3 && (frames[i - 1][0] == 0x91 || frames[i - 1][0] == 0x93))
            ++b.mBlocks;
    }
    endBurst();
    b.mRequestBytes += dropped;
    b.mLineBytes += dropped;
    b.mReplies = static_cast<int>(replies.size());
    for (const auto &r : replies)
        b.mReplyBytes += static_cast<long>(r.size());
    b.mLineBytes += b.mReplyBytes;
    const int answered = b.mReplies - b.mHandshakes; // replies besides the wake-up acknowledges
    const long replyBytes = b.mReplyBytes - 3L * b.mHandshakes;
    const long lineBytes = replyBytes + (paced ? b.mRequestBytes : 0);
    b.mSeconds = static_cast<double>(lineBytes) * kByteSeconds + b.mExchanges * kSettle + b.mBlocks * kBlockPause +
                 answered * latency + handshakes;
    b.mFloor = b.mSeconds - answered * kByteSeconds;
    return b;
}

// ---------------------------------------------------------------- where the time goes

struct RBreakdown {
    double mStart = 0;    // job start to the first request
    double mGaps = 0;     // reply end to next request, less the link's pause
    double mGapMax = 0;
    int mGapCount = 0;
    double mEnd = 0;      // last reply to the end of the job, less the last pause
    double mSim = 0;      // simulator later than turnaround + pacing
    double mRelay = 0;    // relay later than the line's pace
    double Program() const { return mStart + mGaps + mEnd; }
};

RBreakdown Analyse(const std::vector<RLineEvent> &events, Clock::time_point t0, Clock::time_point t1, double latency,
                   bool blocks, bool trace)
{
    struct RReq {
        Clock::time_point mRead, mDelivered, mDue, mReplyEnd{};
        int mCount = 0, mReplyBytes = 0;
        uint8_t mFirst = 0;
    };
    std::vector<RReq> reqs;
    size_t delivered = 0;
    std::vector<RLineEvent> deliveries;
    for (const auto &e : events)
        if (e.mKind == RLineEvent::kDelivered)
            deliveries.push_back(e);
    for (const auto &e : events) {
        if (e.mKind == RLineEvent::kRequest) {
            // One write that the relay happened to take in two reads.
            if (!reqs.empty() && reqs.back().mReplyBytes == 0 &&
                e.mTime - reqs.back().mRead < std::chrono::microseconds(100)) {
                reqs.back().mCount += e.mCount;
                if (delivered < deliveries.size()) {
                    reqs.back().mDelivered = deliveries[delivered].mTime;
                    reqs.back().mDue = deliveries[delivered].mDue;
                    ++delivered;
                }
                continue;
            }
            RReq r;
            r.mRead = e.mTime;
            r.mCount = e.mCount;
            r.mFirst = e.mFirst;
            if (delivered < deliveries.size()) {
                r.mDelivered = deliveries[delivered].mTime;
                r.mDue = deliveries[delivered].mDue;
                ++delivered;
            }
            reqs.push_back(r);
        } else if (e.mKind == RLineEvent::kReply && !reqs.empty()) {
            reqs.back().mReplyBytes += e.mCount;
            reqs.back().mReplyEnd = e.mTime;
        }
    }
    RBreakdown b;
    if (reqs.empty())
        return b;
    b.mStart = Seconds(reqs.front().mRead - t0);
    for (size_t i = 0; i < reqs.size(); ++i) {
        const RReq &r = reqs[i];
        b.mRelay += std::max(0.0, Seconds(r.mDelivered - r.mDue));
        const bool wake = r.mCount == 3 && r.mFirst == 0xB2;
        if (r.mReplyBytes > 0)
            b.mSim += Seconds(r.mReplyEnd - r.mDelivered) - (latency + (r.mReplyBytes - 1) * kByteSeconds);
        double gap;
        if (wake) {
            // The handshake's pacing runs from the frame's write.
            const double pause = r.mReplyBytes > 0 ? kWakePacing + kHandshakeEnd : kWakePacing;
            const auto next = i + 1 < reqs.size() ? reqs[i + 1].mRead : t1;
            gap = Seconds(next - r.mRead) - pause;
        } else {
            const bool block = blocks && i > 0 && reqs[i - 1].mCount == 3 &&
                               (reqs[i - 1].mFirst == 0x91 || reqs[i - 1].mFirst == 0x93) && r.mCount > 3;
            const double pause = kSettle + (block ? kBlockPause : 0);
            const auto from = r.mReplyBytes > 0 ? r.mReplyEnd : r.mDelivered;
            const auto next = i + 1 < reqs.size() ? reqs[i + 1].mRead : t1;
            gap = Seconds(next - from) - pause;
        }
        if (trace)
            std::printf("    %9.3f ms  %3d B %02X  delivered +%7.3f  reply %3d B ends +%7.3f  program %+8.3f ms\n",
                        1e3 * Seconds(r.mRead - t0), r.mCount, r.mFirst, 1e3 * Seconds(r.mDelivered - r.mRead),
                        r.mReplyBytes, r.mReplyBytes ? 1e3 * Seconds(r.mReplyEnd - r.mRead) : 0.0, 1e3 * gap);
        if (i + 1 < reqs.size()) {
            b.mGaps += gap;
            b.mGapMax = std::max(b.mGapMax, gap);
            ++b.mGapCount;
        } else {
            b.mEnd = gap;
        }
    }
    return b;
}

// ---------------------------------------------------------------- the jobs

struct RRun {
    bool mOk = false;
    std::string mWhy;
    double mWall = 0, mCpu = 0;
    RBound mBound;
    RBreakdown mBreak;
    long mRelayBytes = 0;
    double Ratio() const { return mBound.mSeconds > 0 ? mWall / mBound.mSeconds : 0; }
};

struct RJob {
    std::string mName;
    int mRuns;
    bool mBlocks;                        // counts firmware blocks
    std::function<void()> mSetUp;        // not timed
    std::function<std::string()> mRun;   // timed; empty text = success
    std::function<std::string()> mCheck; // not timed; empty text = the result is right
};

struct RBench {
    SimDetector &sim;
    TPacedRelay *relay;
    double latency;
    bool paced;
    bool trace;

    RRun RunOnce(const RJob &job)
    {
        RRun run;
        job.mSetUp();
        sim.ClearRecords();
        if (relay)
            relay->TakeEvents();
        const double cpu0 = ThreadCpuSeconds();
        const auto t0 = Clock::now();
        std::string why = job.mRun();
        const auto t1 = Clock::now();
        run.mCpu = ThreadCpuSeconds() - cpu0;
        run.mWall = Seconds(t1 - t0);
        // The last reply is recorded once the simulator has written it out.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (why.empty() && job.mCheck)
            why = job.mCheck();
        run.mOk = why.empty();
        run.mWhy = why;
        run.mBound = ComputeBound(sim.ReceivedFrames(), sim.SentReplies(), sim.DroppedBytes(), latency, job.mBlocks,
                                  paced);
        if (relay) {
            const auto events = relay->TakeEvents();
            for (const auto &e : events)
                if (e.mKind != RLineEvent::kDelivered)
                    run.mRelayBytes += e.mCount;
            if (trace)
                std::printf("  %s, wall %.3f ms:\n", job.mName.c_str(), 1e3 * run.mWall);
            run.mBreak = Analyse(events, t0, t1, latency, job.mBlocks, trace);
        }
        return run;
    }
};

std::string Hex2(uint8_t v)
{
    char s[3];
    std::snprintf(s, sizeof s, "%02X", v);
    return s;
}

std::string Uptime()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

void Usage()
{
    std::fprintf(stderr,
                 "usage: bench_jobs [--runs N] [--fw-runs N] [--latency US] [--direct] [--job TEXT] [--detail]\n"
                 "                  [--trace]\n"
                 "  --runs N      timed runs of each short job (default 7)\n"
                 "  --fw-runs N   timed runs of the firmware download (default 3)\n"
                 "  --latency US  the simulator's turnaround before each reply (default 200)\n"
                 "  --direct      requests reach the simulator at once, not at the line's pace\n"
                 "  --job TEXT    only the jobs whose name contains TEXT\n"
                 "  --detail      every run, not just the median one\n"
                 "  --trace       every request of every run: when it left, its reply, the program's gap\n");
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 7, fwRuns = 3, latencyUs = 200;
    bool direct = false, detail = false, trace = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(64);
            }
            return argv[++i];
        };
        if (a == "--runs")
            runs = std::max(1, std::atoi(value().c_str()));
        else if (a == "--fw-runs")
            fwRuns = std::max(1, std::atoi(value().c_str()));
        else if (a == "--latency")
            latencyUs = std::max(0, std::atoi(value().c_str()));
        else if (a == "--direct")
            direct = true;
        else if (a == "--detail")
            detail = true;
        else if (a == "--trace")
            trace = true;
        else if (a == "--job")
            only = value();
        else if (a == "--help") {
            Usage();
            return 0;
        } else {
            Usage();
            return 64;
        }
    }
    const double latency = latencyUs / 1e6;

    // Everything a job writes goes to a scratch folder, the per-user store included.
    char tmpl[] = "/tmp/beamport-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = tmpl;
    TSession session((dir / "store.conf").string());

    SimOptions options;
    options.paced = true;
    options.latency_us = latencyUs;
    options.log_packet_size = 32;
    options.firmware_packet_size = 128;
    SimDetector sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.Error().c_str());
        return 1;
    }
    TPacedRelay relay;
    std::string error;
    if (!relay.Start(sim.DevicePath(), !direct, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    session.Link().SetPortChoice(relay.ProgramDevice());
    const auto factoryConfig = sim.Config();

    TSilentScreen screen;
    RMainState state;
    StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
    TDeviceActions actions(session, screen, state);

    auto describe = [&](uint8_t status) {
        const std::string &box = screen.FLastMessage;
        return "status " + std::to_string(status) + (box.empty() ? "" : " (" + box + ")");
    };
    auto action = [&](const RActionResult &r) -> std::string {
        if (r.Ok())
            return {};
        if (r.mAborted)
            return "aborted: " + r.mError;
        return describe(r.mStatus) + (r.mRefused ? " refused" : "") + (r.mDeclined ? " declined" : "");
    };
    auto op = [&](const ROpResult &r) -> std::string {
        if (r.Ok())
            return {};
        return r.mAborted ? "aborted: " + r.mError : describe(r.mStatus);
    };
    auto layout = [&](bool user) {
        RDeviceCFG &DeviceCFG = session.DeviceCFG;
        DeviceCFG = RDeviceCFG{};
        session.UserMode = user;
        if (user) { // the user layout's ranges: record bytes 0..7 and 64..73
            DeviceCFG.mUnitWriteUserStart = 1;
            DeviceCFG.mUnitWriteUserSize = 8;
            DeviceCFG.mUnitWriteFactorySize = 0;
            DeviceCFG.mSensorWriteUserStart = 65;
            DeviceCFG.mSensorWriteUserSize = 10;
            DeviceCFG.mSensorWriteFactorySize = 0;
        } else { // developer ranges that cover both blocks, CRC words included
            DeviceCFG.mUnitWriteFactoryStart = 17;
            DeviceCFG.mUnitWriteFactorySize = 48;  // 16..63
            DeviceCFG.mUnitWriteUserStart = 1;
            DeviceCFG.mUnitWriteUserSize = 16;     // 0..15
            DeviceCFG.mSensorWriteFactoryStart = 86;
            DeviceCFG.mSensorWriteFactorySize = 43; // 85..127
            DeviceCFG.mSensorWriteUserStart = 65;
            DeviceCFG.mSensorWriteUserSize = 21;    // 64..84
        }
        screen.FLastMessage.clear();
    };
    auto readFirst = [&](bool user) {
        layout(user);
        sim.SetConfig(factoryConfig);
        state = RMainState{};
        StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
        const std::string why = action(actions.ReadDevice());
        if (!why.empty())
            std::fprintf(stderr, "set-up read failed: %s\n", why.c_str());
    };
    auto wroteRanges = [&](const std::vector<std::pair<int, int>> &want) -> std::string {
        // The address frames of the writes: count, 0, address high, address low.
        std::vector<std::pair<int, int>> got;
        const TFrames frames = sim.ReceivedFrames();
        for (size_t i = 1; i < frames.size(); ++i)
            if (frames[i - 1].size() == 3 && frames[i - 1][0] == 0x70 && frames[i].size() == 6)
                got.emplace_back(frames[i][2] << 8 | frames[i][3], frames[i][0]);
        return got == want ? std::string() : "unexpected write ranges";
    };

    // A full log: 113 entries of 9 bytes, none the end marker, then 7 spare bytes.
    std::vector<uint8_t> fullLog(1024, 0);
    for (int k = 0; k < 113; ++k) {
        SimEvent e{};
        e.mStartEvent = SimIdentity().mLife + 86400u * static_cast<uint32_t>(113 - k);
        e.mDurationEvent = static_cast<uint16_t>(30 + k);
        e.mAlarmStatusFlag = static_cast<uint8_t>((k % 3) << 2);
        e.mSensorReading = static_cast<int16_t>(10 * k);
        std::memcpy(&fullLog[static_cast<size_t>(k) * kSimEventSize], &e, sizeof e);
    }
    REventLogResult lastLog;

    REEPROMGrid grid;

    // A valid image for this detector: same versions, so no question is asked.
    const SimIdentity id = sim.Identity();
    const std::vector<uint8_t> image = SimMakeFirmwareImage(128, 128, 2, id.mSW, id.mHW, id.mSW, id.mHW);
    const std::string imagePath = (dir / "bench.img").string();
    {
        std::ofstream f(imagePath, std::ios::binary);
        f.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    std::unique_ptr<TFirmwareUpgrade> firmware;

    std::vector<RJob> jobs = {
        {"Read Device", runs, false, [&] { layout(true); },
         [&] { return action(actions.ReadDevice()); }, {}},
        {"Write Device (user)", runs, false, [&] { readFirst(true); },
         [&] { return action(actions.WriteDevice()); },
         [&] { return wroteRanges({{0, 8}, {64, 10}}); }},
        {"Write Device (developer)", runs, false, [&] { readFirst(false); },
         [&] { return action(actions.WriteDevice()); },
         [&] { return wroteRanges({{16, 48}, {0, 16}, {85, 43}, {64, 21}}); }},
        {"Save Event Log (1024 B)", runs, false,
         [&] {
             layout(true);
             sim.SetConfig(factoryConfig);
             sim.SetEventLog(fullLog);
             session.DeviceCFG.mEVENTReadPacketSize = 32;
             screen.FSavePath = (dir / "events.csv").string();
         },
         [&] {
             lastLog = SaveEventLogAction(session, screen, state);
             if (!lastLog.mOp.Ok())
                 return op(lastLog.mOp);
             return lastLog.mFile == EFileOutcome::Done ? std::string() : std::string("the file was not written");
         },
         [&] { return lastLog.mEvents == 113 ? std::string() : "events: " + std::to_string(lastLog.mEvents); }},
        {"EEPROM Read (1024 B)", runs, false,
         [&] {
             layout(true);
             session.DeviceCFG.mEEPROMPacketSize = 32;
             session.DeviceCFG.mEEPROMReadAddress = 0;
             session.DeviceCFG.mEEPROMMaxAddress = 1024 + 32; // the read stops one packet short of the end
             grid = MakeEEPROMGrid(session.DeviceCFG.mEEPROMMaxAddress);
         },
         [&] { return op(EEPROMReadAction(session, screen, grid)); },
         [&]() -> std::string {
             const auto bytes = sim.Eeprom();
             for (int a = 0; a < 1024; ++a)
                 if (grid.Cell(a % 16 + 1, a / 16) != Hex2(bytes[static_cast<size_t>(a)]))
                     return "EEPROM byte " + std::to_string(a) + " differs";
             return {};
         }},
        {"Firmware 128 x 128 B", fwRuns, true,
         [&] {
             layout(true);
             state = RMainState{};
             StartConfigView(state.FForm, state.FTamselCFG, session.SensorTypes);
             firmware = std::make_unique<TFirmwareUpgrade>(session, screen, state);
             const uint8_t s = firmware->LoadUpgradeFile(imagePath, true);
             if (s != 0)
                 std::fprintf(stderr, "image load failed: %d\n", s);
         },
         [&] { return op(firmware->Upgrade()); },
         [&]() -> std::string {
             if (!sim.ExecutePassed() || sim.FirmwareBlocks().size() != 128)
                 return "the detector did not take the image";
             return {};
         }},
    };

    RBench bench{sim, &relay, latency, !direct, trace};
    std::printf("bench_jobs: simulator paced at 115200 baud, turnaround %d us, requests %s; load %s\n", latencyUs,
                direct ? "NOT paced (--direct: the bound counts replies only)" : "paced by the relay",
                Uptime().c_str());
    std::printf("%-26s %8s %8s %6s %6s | %8s %11s %5s %6s\n", "job", "wall s", "bound s", "ratio", "cpu %", "floor s",
                "range", "exch", "bytes");
    struct RRow {
        std::string name;
        RRun median;
        double bestRatio, worstRatio, cpuShare;
    };
    std::vector<RRow> rows;
    bool allOk = true;
    for (const RJob &job : jobs) {
        if (!only.empty() && job.mName.find(only) == std::string::npos)
            continue;
        std::vector<RRun> done;
        for (int i = 0; i < job.mRuns; ++i) {
            done.push_back(bench.RunOnce(job));
            const RRun &r = done.back();
            if (!r.mOk) {
                std::fprintf(stderr, "%s: run %d failed: %s\n", job.mName.c_str(), i + 1, r.mWhy.c_str());
                allOk = false;
            }
            if (detail)
                std::printf("  %-24s run %d: wall %.4f bound %.4f ratio %.3f cpu %.1f %%; ms: program %.2f (end %.2f) "
                            "sim %.2f relay %.2f\n",
                            job.mName.c_str(), i + 1, r.mWall, r.mBound.mSeconds, r.Ratio(),
                            100 * r.mCpu / r.mWall,
                            1e3 * r.mBreak.Program(), 1e3 * r.mBreak.mEnd, 1e3 * r.mBreak.mSim, 1e3 * r.mBreak.mRelay);
            sim.SetConfig(factoryConfig); // a developer write leaves whatever it wrote
        }
        std::vector<RRun> sorted = done;
        std::sort(sorted.begin(), sorted.end(), [](const RRun &a, const RRun &b) { return a.Ratio() < b.Ratio(); });
        RRow row{job.mName, sorted[sorted.size() / 2], sorted.front().Ratio(), sorted.back().Ratio(), 0};
        double wall = 0, cpu = 0;
        for (const RRun &r : done) {
            wall += r.mWall;
            cpu += r.mCpu;
        }
        row.cpuShare = 100 * cpu / wall;
        rows.push_back(row);
        const RRun &med = row.median;
        std::printf("%-26s %8.4f %8.4f %6.3f %6.1f | %8.4f %5.3f-%5.3f %5d %6ld\n", row.name.c_str(), med.mWall,
                    med.mBound.mSeconds, med.Ratio(), row.cpuShare, med.mBound.mFloor, row.bestRatio, row.worstRatio,
                    med.mBound.mExchanges, med.mBound.mLineBytes);
        std::fflush(stdout);
    }
    std::printf("(wall, bound, ratio: the run with the median ratio; cpu %%: all runs' thread CPU over their wall\n"
                " time; floor: the bound less a byte time per reply, the least this rig can take; range: best and\n"
                " worst ratio; exch: exchanges; bytes: both directions)\n");

    std::printf("\nwhere the median run's time beyond the floor goes, ms:\n");
    std::printf("%-26s %7s | %7s %7s %7s %7s %7s | %7s %7s %7s\n", "job", "beyond", "program", "start", "gaps",
                "gap max", "end", "sim", "relay", "rest");
    for (const RRow &row : rows) {
        const RRun &r = row.median;
        const RBreakdown &b = r.mBreak;
        const double beyond = r.mWall - r.mBound.mFloor;
        std::printf("%-26s %7.2f | %7.2f %7.2f %7.2f %7.3f %7.2f | %7.2f %7.2f %7.2f\n", row.name.c_str(), 1e3 * beyond,
                    1e3 * b.Program(), 1e3 * b.mStart, 1e3 * b.mGaps, 1e3 * b.mGapMax, 1e3 * b.mEnd, 1e3 * b.mSim,
                    1e3 * b.mRelay, 1e3 * (beyond - b.Program() - b.mSim - b.mRelay));
        if (r.mRelayBytes != r.mBound.mLineBytes)
            std::printf("  (the relay passed %ld bytes, the simulator counted %ld)\n", r.mRelayBytes,
                        r.mBound.mLineBytes);
    }
    std::printf("(program: job start to first request + each reply's end to the next request less the pause the\n"
                " link must make + last reply to job end; sim: replies later than turnaround and pacing; relay:\n"
                " requests handed on later than the line's pace)\n");
    std::printf("load at the end: %s\n", Uptime().c_str());

    relay.Stop();
    sim.Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return allOk ? 0 : 1;
}
