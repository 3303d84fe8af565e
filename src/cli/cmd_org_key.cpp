// org-key: the organisation's own Ed25519 key, which approves bench keys
// (`records keys approve KEYID --org-key FILE`). It is kept off the benches.
//   org-key init --out FILE   a new key, the file 0600, never over an existing one
// The fingerprint it prints is what `records verify --org` and [RECORDS] OrgKey name.
#include <iostream>

#include <QFileInfo>

#include "cli/cli_commands.h"
#include "records/bench_key.h"

namespace {

int OrgKey(CliContext &c)
{
    std::vector<std::string> args = c.args;
    std::string out;
    const bool init = !args.empty() && args.front() == "init";
    if (init)
        args.erase(args.begin());
    if (!init || !TakeOption(args, "--out", out) || !args.empty() || out.empty())
        return UsageError(c, "org-key init --out FILE");
    const QString path = QString::fromStdString(out);
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
        std::cerr << "beamport-cli: the folder of " << out << " does not exist\n";
        return kExitFile;
    }
    QString error;
    const std::unique_ptr<TBenchKey> key = TBenchKey::CreateNew(path, error);
    if (!key) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return kExitFile;
    }
    std::cout << "organisation key written to " << out << " (keep it off the benches)\n"
              << "fingerprint " << key->Fingerprint().toStdString() << "\n"
              << std::flush;
    return 0;
}

} // namespace

CliEntry OrgKeyCommand()
{
    return {"org-key",
            "org-key init --out FILE",
            "make the organisation key that approves bench keys",
            "Makes a new organisation key (Ed25519) in FILE, readable by its owner only (0600), and prints its "
            "fingerprint (64 hex digits). An existing file is never overwritten (exit 65). Keep the file off the "
            "benches; approve each bench key with `records keys approve KEYID --org-key FILE`, and have auditors check "
            "with `records verify --org FINGERPRINT` (or [RECORDS] OrgKey in the settings).",
            {{"--out FILE", "the new key file"}},
            OrgKey,
            ECliKind::kLocal};
}
