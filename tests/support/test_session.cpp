#include "support/test_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>

namespace {

#ifdef _WIN32
// A folder of a random name made anew (never one that was there).
std::filesystem::path MakeScratchDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("beamport-test-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(dir, ec))
            return dir;
    }
    throw std::runtime_error("no scratch folder for the test session");
}
#else
std::filesystem::path MakeScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "beamport-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("no scratch folder for the test session");
    return pattern;
}
#endif

} // namespace

TTestSession::TTestSession()
    : dir(MakeScratchDir()), session((dir / "store.conf").string()), link(session.Link())
{
}

TTestSession::~TTestSession()
{
    link.OnTamselEvent = nullptr;
    link.ComClose();
    sim.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

SimDetector &TTestSession::StartSim(const SimOptions &options)
{
    sim.reset();
    sim = std::make_unique<SimDetector>(options);
    EXPECT_TRUE(sim->Start()) << sim->Error();
    UsePort(sim->DevicePath());
    link.SetSimulatedLine(sim->DevicePath(), sim->LineTally());
    return *sim;
}

void TTestSession::UsePort(const std::string &device) { link.SetPortChoice(device); }

TCapturingJournal &TTestSession::CaptureJournal()
{
    auto journal = std::make_unique<TCapturingJournal>();
    TCapturingJournal &kept = *journal;
    session.SetJournal(std::move(journal));
    return kept;
}

std::string TTestSession::Path(const std::string &name) const { return (dir / name).string(); }
