// The window with a shared records store that takes connections and never
// answers: the device buttons go on at once (the records wait on the
// journal's own thread), the records go to this bench's outbox in order, and
// once the server answers again they are sent by themselves with the next
// record.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>

#include "records/journal_store.h"
#include "records/location.h"
#include "ui/records_dialog.h"
#include "window_fixture.h"

namespace {

// A PostgreSQL server in front of the test server: silent (every connection
// taken, not a byte answered) until Answer(), then passing bytes both ways
// to the test server's socket.
class TSilentServer {
public:
    explicit TSilentServer(std::string target) : FTarget(std::move(target))
    {
        FListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(FListener, 16);
        socklen_t len = sizeof addr;
        ::getsockname(FListener, reinterpret_cast<sockaddr *>(&addr), &len);
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Accept(); });
    }
    ~TSilentServer()
    {
        FStop = true;
        FThread.join();
        for (std::thread &t : FPipes)
            t.join();
        for (int fd : FSilent)
            ::close(fd);
        ::close(FListener);
    }
    int Port() const { return FPort; }
    void Answer() { FAnswer = true; }

private:
    void Accept()
    {
        while (!FStop) {
            pollfd p{FListener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(FListener, nullptr, nullptr);
            if (client < 0)
                continue;
            if (!FAnswer) {
                FSilent.push_back(client);
                continue;
            }
            FPipes.emplace_back([this, client] { Pipe(client); });
        }
    }
    void Pipe(int client)
    {
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", FTarget.c_str());
        if (::connect(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            char buf[8192];
            for (bool open = true; open && !FStop;) {
                if (::poll(p, 2, 50) <= 0)
                    continue;
                for (int i = 0; i < 2 && open; ++i) {
                    if (!(p[i].revents & (POLLIN | POLLHUP)))
                        continue;
                    const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                    open = n > 0 && ::write(p[1 - i].fd, buf, static_cast<size_t>(n)) == n;
                }
            }
        }
        ::close(server);
        ::close(client);
    }

    std::string FTarget;
    int FListener = -1, FPort = 0;
    std::atomic<bool> FStop{false}, FAnswer{false};
    std::thread FThread;
    std::vector<std::thread> FPipes; // only the accepting thread adds, before the destructor joins
    std::vector<int> FSilent;
};

class RecordsOutageTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1); // this test's bench key
        const QString url = qEnvironmentVariable("BEAMPORT_TEST_PG");
        QString error;
        // The test server's socket folder; without a server the records stay
        // in the outbox and the test ends there.
        if (!url.isEmpty() && ParseStoreLocation(url, FServer, error) && FServer.mHost.startsWith(QLatin1Char('/')))
            FSchema = QStringLiteral("outage_%1").arg(::getpid());
        FSilent = std::make_unique<TSilentServer>(
            QStringLiteral("%1/.s.PGSQL.%2").arg(FServer.mHost).arg(FServer.mPort > 0 ? FServer.mPort : 5432).toStdString());
        if (!FSchema.isEmpty())
            Admin(QStringLiteral("CREATE SCHEMA %1").arg(FSchema));
        FShared.mKind = EStoreKind::kPostgres;
        FShared.mHost = QStringLiteral("127.0.0.1");
        FShared.mPort = FSilent->Port();
        FShared.mDatabase = FServer.mDatabase.isEmpty() ? QStringLiteral("records") : FServer.mDatabase;
        FShared.mUser = FServer.mUser.isEmpty() ? QStringLiteral("beamport") : FServer.mUser;
        if (!FSchema.isEmpty())
            FShared.mOptions = QStringLiteral("options=-csearch_path=") + FSchema;
        auto journal = std::make_unique<TRecordJournal>(FShared, QString::fromStdString(Path("bench.sqlite")));
        journal->SetRetryClock([this] { return std::chrono::steady_clock::now() + std::chrono::seconds(FLater); });
        FJournal = journal.get();
        session.SetJournal(std::move(journal));
    }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        session.SetJournal(nullptr);
        FSilent.reset();
        if (!FSchema.isEmpty())
            Admin(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(FSchema));
    }

    void Admin(const QString &sql)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("outage-admin"));
            db.setHostName(FServer.mHost);
            db.setDatabaseName(FServer.mDatabase);
            db.setUserName(FServer.mUser);
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
            ASSERT_TRUE(QSqlQuery(db).exec(sql)) << sql.toStdString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("outage-admin"));
    }

    // The jobs a store holds, oldest first.
    std::vector<std::string> Jobs(const RStoreLocation &where, bool outbox)
    {
        QString error;
        auto store = TRecordStore::Open(where, error);
        EXPECT_TRUE(store) << error.toStdString();
        std::vector<RServiceRecord> records;
        if (store) {
            EXPECT_TRUE(outbox ? store->Outbox(records, error) : store->List({}, records, error)) << error.toStdString();
        }
        std::vector<std::string> jobs;
        for (const RServiceRecord &r : records)
            jobs.push_back(r.mJob.toStdString());
        if (!outbox)
            std::reverse(jobs.begin(), jobs.end()); // listed newest job first
        return jobs;
    }

    RStoreLocation FServer, FShared;
    QString FSchema;
    std::unique_ptr<TSilentServer> FSilent;
    TRecordJournal *FJournal = nullptr;
    std::atomic<int> FLater{0}; // seconds the retry clock is ahead
};

} // namespace

TEST_F(RecordsOutageTest, ButtonsGoOnWhileTheStoreIsSilentAndTheOutboxIsSentByItself)
{
    StartSim();
    Open();
    RStoreLocation bench;
    bench.mPath = QString::fromStdString(Path("bench.sqlite"));

    // The first record waits for the silent server's connect time-out on the
    // journal's thread; the window has done its job and shows it long before.
    Click("UserReadDeviceBtn");
    EXPECT_TRUE(StatusText().contains(QStringLiteral("OK"))) << StatusText().toStdString();
    EXPECT_TRUE(W<QPushButton>("UserReadDeviceBtn")->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(bench.mPath)) << "the window waited for the store";
    Click("UserOptReadDeviceBtn");
    Click("UserReadDeviceBtn");
    FJournal->Flush();
    QCoreApplication::processEvents();
    EXPECT_EQ(Jobs(bench, true), (std::vector<std::string>{"read", "read", "read"}));
    EXPECT_EQ(W<QPushButton>("ServiceRecordsBtn")->text(), QStringLiteral("Records (!)"));
    EXPECT_TRUE(W<QPushButton>("ServiceRecordsBtn")->toolTip().startsWith(
        QStringLiteral("the service record was kept on this bench; it will be sent when the shared store answers")));

    if (FSchema.isEmpty())
        GTEST_SKIP() << "BEAMPORT_TEST_PG is not set: the outbox is not sent anywhere";
    // The server answers; within the minute the bench leaves it alone, the
    // next record still goes to the outbox; after it, everything is sent.
    FSilent->Answer();
    Click("UserHibernateBtn"); // answered No: a record of its own too
    FJournal->Flush();
    EXPECT_EQ(Jobs(bench, true).size(), 4u);
    FLater = kRetrySeconds + 1;
    Click("UserReadDeviceBtn");
    FJournal->Flush();
    EXPECT_TRUE(Jobs(bench, true).empty());
    const std::vector<std::string> shared = Jobs(FShared, false);
    ASSERT_EQ(shared.size(), 5u);
    // Every record, each with the time its job ran.
    EXPECT_EQ(shared, (std::vector<std::string>{"read", "read", "read", kJobHibernate, "read"}));
}

// The Service Records window on the same silent store: it opens at once,
// says it is loading, and shows why there is nothing once the connect time-out
// has passed; a Refresh meanwhile reads again once that reading is back.
TEST_F(RecordsOutageTest, TheRecordsWindowOpensAtOnceAndSaysWhyItIsEmpty)
{
    session.RecordsChoice = QStringLiteral("postgresql://beamport@127.0.0.1:%1/records").arg(FSilent->Port()).toStdString();
    TNorvikIRMainForm &w = Open();
    w.ServiceRecordsBtnClick();
    auto *dialog = w.findChild<TServiceRecordsDlg *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->IsLoading()) << "the window's thread waited for the store";
    auto *message = dialog->findChild<QLabel *>(QStringLiteral("RecordsMessageLabel"));
    EXPECT_EQ(message->text(), QStringLiteral("Loading the service records..."));
    dialog->findChild<QPushButton *>(QStringLiteral("RecordsRefreshBtn"))->click();
    EXPECT_FALSE(dialog->findChild<QPushButton *>(QStringLiteral("RecordsExportBtn"))->isEnabled());
    for (int i = 0; i < 1500 && dialog->IsLoading(); ++i)
        QTest::qWait(10);
    ASSERT_FALSE(dialog->IsLoading());
    EXPECT_TRUE(message->text().startsWith(QStringLiteral("The service records could not be opened: ")))
        << message->text().toStdString();
    EXPECT_EQ(dialog->findChild<QTableWidget *>(QStringLiteral("RecordsTable"))->rowCount(), 0);
}
