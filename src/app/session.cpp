#include "app/session.h"

#include "app/journal.h"
#include "app/user_store.h"
#include "link/discovery.h"

namespace {

std::unique_ptr<TUserStore> OpenStore(const std::string &filePath)
{
    return filePath.empty() ? std::make_unique<TUserStore>() : std::make_unique<TUserStore>(filePath);
}

} // namespace

TSession::TSession(const std::string &storeFile, std::unique_ptr<TComm> line)
    : FStore(OpenStore(storeFile)), FLink(line ? std::move(line) : std::make_unique<TComm>()),
      FJournal(std::make_unique<TNullJournal>())
{
}

TSession::~TSession()
{
    // The link may still report to a screen that is already gone.
    FLink.OnTamselEvent = nullptr;
}

void TSession::UseStoreFile(const std::string &filePath) { FStore = OpenStore(filePath); }

void TSession::ChoosePort(const std::string &portOption, const std::string &simulatorDevice,
                          std::shared_ptr<TLineTally> simulatorTally)
{
    FLink.SetSimulatedLine(simulatorDevice, std::move(simulatorTally));
    if (!portOption.empty())
        FLink.SetPortChoice(portOption);
    else if (!simulatorDevice.empty())
        FLink.SetPortChoice(simulatorDevice);
    else
        FLink.SetPortChoice(PortFromEnvironment());
}

void TSession::SetJournal(std::unique_ptr<IJournal> journal)
{
    FJournal = journal ? std::move(journal) : std::make_unique<TNullJournal>();
}
