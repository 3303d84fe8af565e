// The shared reader of input files takes regular files only, never waits on
// what it opens, and never reads more than it was allowed.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif

#include "files/input_file.h"

namespace fs = std::filesystem;

namespace {

class InputFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        FDir = fs::temp_directory_path() / ("beamport-input-file-" + std::to_string(::getpid()));
        fs::create_directories(FDir);
    }
    void TearDown() override
    {
#ifndef _WIN32
        if (FSocket >= 0)
            ::close(FSocket);
#endif
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }
    std::string Path(const std::string &name) const { return (FDir / name).string(); }
    std::string Regular(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
#ifndef _WIN32
    std::string Fifo(const std::string &name) const
    {
        EXPECT_EQ(::mkfifo(Path(name).c_str(), 0600), 0);
        return Path(name);
    }
    std::string Socket(const std::string &name)
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string path = Path(name);
        EXPECT_LT(path.size(), sizeof addr.sun_path);
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        FSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(FSocket, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
        return path;
    }
#endif

    fs::path FDir;
    int FSocket = -1;
};

// Reads with both entry points, each on its own thread: a reader that waits
// on what it opened fails the test instead of hanging it (a writer is opened
// on a FIFO to set it free).
RInputFile ReadWithin(const std::string &path, bool head, uint64_t limit)
{
    auto read = std::async(std::launch::async, [&] {
        return head ? ReadInputFileHead(path, static_cast<size_t>(limit)) : ReadInputFile(path, limit);
    });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << path << ": the read waited";
#ifndef _WIN32
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
#endif
    }
    return read.get();
}

} // namespace

TEST_F(InputFileTest, OnlyRegularFilesAreRead)
{
#ifdef _WIN32
    GTEST_SKIP() << "FIFOs, sockets and /dev are POSIX's (test_windows: devices and folders on Windows)";
#else
    const std::string linkToFifo = Path("link-to-fifo");
    fs::create_directories(Path("folder"));
    const std::string fifo = Fifo("fifo");
    fs::create_symlink(fifo, linkToFifo);
    const std::string regular = Regular("plain.cfg", "abc");
    fs::create_symlink(regular, Path("link-to-plain"));
    const struct {
        std::string path;
        EInputFile result;
        std::string bytes;
    } rows[] = {
        {regular, EInputFile::Ok, "abc"},
        {Path("link-to-plain"), EInputFile::Ok, "abc"}, // a link to a regular file is that file
        {Regular("empty.cfg", ""), EInputFile::Ok, ""},
        {Path("missing.cfg"), EInputFile::Missing, ""},
        {Path("plain.cfg/inside"), EInputFile::Missing, ""},
        {Path("folder"), EInputFile::NotRegular, ""},
        {fifo, EInputFile::NotRegular, ""},
        {linkToFifo, EInputFile::NotRegular, ""},
        {Socket("socket"), EInputFile::NotRegular, ""},
        {"/dev/null", EInputFile::NotRegular, ""}, // a device that reads as empty
        {"/dev/zero", EInputFile::NotRegular, ""}, // a device that never ends
    };
    for (const auto &row : rows) {
        for (const bool head : {false, true}) {
            SCOPED_TRACE(row.path + (head ? " (head)" : ""));
            const RInputFile file = ReadWithin(row.path, head, 1024);
            EXPECT_EQ(file.mResult, row.result) << InputFileProblem(file.mResult);
            EXPECT_EQ(std::string(file.mBytes.begin(), file.mBytes.end()), row.bytes);
            EXPECT_EQ(file.Ok(), row.result == EInputFile::Ok);
        }
    }
    EXPECT_EQ(InputFileProblem(EInputFile::NotRegular), "it is not a regular file");
#endif
}

TEST_F(InputFileTest, SizeLimits)
{
    const std::string five = Regular("five", "12345");
    const struct {
        bool head;
        uint64_t limit;
        EInputFile result;
        std::string bytes;
    } rows[] = {
        {false, 5, EInputFile::Ok, "12345"},
        {false, 4, EInputFile::TooLarge, ""},
        {false, 0, EInputFile::TooLarge, ""},
        {true, 4, EInputFile::Ok, "1234"}, // the head of a larger file
        {true, 9, EInputFile::Ok, "12345"},
        {true, 0, EInputFile::Ok, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.limit) + (row.head ? " (head)" : ""));
        const RInputFile file = ReadWithin(five, row.head, row.limit);
        EXPECT_EQ(file.mResult, row.result);
        EXPECT_EQ(std::string(file.mBytes.begin(), file.mBytes.end()), row.bytes);
        EXPECT_EQ(file.mSize, 5u);
    }
}
