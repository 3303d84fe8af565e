// A store never keeps a bench waiting without limit: a server that does not
// answer costs one short connect time-out, then the outbox for a while; a
// lock held on the records costs 2 s, then the outbox; what waited is sent
// by itself with the next record the store takes.
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <mutex>

#include "records/journal_store.h"
#include "records_fixture.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

RJobRecord Job(const char *name)
{
    RJobRecord j;
    j.mJob = name;
    j.mText = "done";
    return j;
}

class StoreTimeouts : public RecordsTest {};

} // namespace

TEST(StoreTimeoutsNoServer, AServerThatNeverAnswersCostsOneShortTimeOut)
{
#ifdef _WIN32
    GTEST_SKIP() << "the silent server is a POSIX socket";
#else
    // A listening socket that takes the connection and never says a word.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    RStoreLocation silent;
    QString error;
    ASSERT_TRUE(ParseStoreLocation(QStringLiteral("postgresql://beamport@127.0.0.1:%1/records").arg(ntohs(addr.sin_port)),
                                   silent, error));
    QTemporaryDir dir;
    const QString local = dir.filePath("bench.sqlite");
    {
        TRecordJournal journal(silent, local);
        std::vector<std::string> warnings;
        std::mutex mutex;
        const TJournalWarn warn = [&](const std::string &w) {
            const std::lock_guard<std::mutex> lock(mutex);
            warnings.push_back(w);
        };
        auto start = std::chrono::steady_clock::now();
        journal.Record(Job("read"), warn);
        EXPECT_LT(Seconds(start), 0.1) << "the caller never waits on the store";
        journal.Flush();
        EXPECT_LT(Seconds(start), kStoreWaitSeconds + 1.5);
        EXPECT_GE(Seconds(start), kStoreWaitSeconds - 0.5) << "the connect time-out";
        // For a while the bench does not knock again: straight to the outbox.
        start = std::chrono::steady_clock::now();
        for (const char *job : {"identify", "bump-pass"})
            journal.Record(Job(job), warn);
        journal.Flush();
        EXPECT_LT(Seconds(start), 1.0);
        ASSERT_EQ(warnings.size(), 3u);
        for (const std::string &w : warnings) {
            EXPECT_EQ(w.rfind("the service record was kept on this bench; it will be sent when the shared store "
                              "answers",
                              0),
                      0u)
                << w;
            EXPECT_EQ(w.find('\n'), std::string::npos);
        }
    }
    ::close(listener);
    RStoreLocation bench;
    bench.mPath = local;
    const auto kept = TRecordStore::Open(bench, error);
    ASSERT_TRUE(kept) << error.toStdString();
    EXPECT_EQ(kept->OutboxCount(error), 3);
#endif
}

TEST_P(StoreTimeouts, AHeldLockCostsTwoSecondsThenTheOutboxThenItIsSentByItself)
{
    if (!Postgres())
        GTEST_SKIP() << "SQLite's busy time-out is the same 2 s (QSQLITE_BUSY_TIMEOUT)";
    auto holder = Open();
    ASSERT_TRUE(holder);
    const QString local = TempPath("bench.sqlite");
    TRecordJournal journal(Location(), local);
    ASSERT_EQ(journal.KeepNow(Job("identify")), "");
    Sql(*holder, "BEGIN");
    Sql(*holder, "LOCK TABLE records IN ACCESS EXCLUSIVE MODE");
    const auto start = std::chrono::steady_clock::now();
    const std::string warning = journal.KeepNow(Job("read"));
    EXPECT_LT(Seconds(start), 3.0);
    EXPECT_EQ(warning.rfind("the service record was kept on this bench", 0), 0u) << warning;
    EXPECT_NE(warning.find("timeout"), std::string::npos) << warning;
    Sql(*holder, "ROLLBACK");
    // The store answers again: the next record goes, and what waited with it.
    ASSERT_EQ(journal.KeepNow(Job("bump-pass")), "");
    QString error;
    EXPECT_EQ(holder->Count(error), 3);
    EXPECT_TRUE(holder->Verify().mIntact);
    EXPECT_EQ(holder->Get(3, error)->mJob, "read") << "sent after the record that found the store answering";
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTimeouts, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);
