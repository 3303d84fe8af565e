#include <iostream>

#include "app/cfg_actions.h"
#include "app/config_jobs.h"
#include "app/session.h"
#include "app/status.h"
#include "cli/cli_commands.h"
#include "model/config_form.h"

// The detector against what `write FILE.cfg` would send, field by field:
// the file goes through the editor as write takes it (Read File, then the
// record built for the detector), the detector is read as Read Device reads
// it, and the fields the write ranges would change are listed. Nothing is
// written.
int ConfigOfFile(CliContext &c, const std::string &path, RTamselCFG &sent)
{
    c.screen.FFiles.push_back(path);
    const EFileOutcome read = ReadConfigFileForDetector(c.session, c.screen, sent);
    c.screen.FFiles.clear();
    if (read != EFileOutcome::Done)
        return kExitFile;
    const std::vector<std::string> problems = CFGWriteRangeProblems(c.session.DeviceCFG);
    if (!problems.empty()) {
        c.screen.Message(kWriteRangeCaption, WriteRangeText(problems), MsgIcon::Error);
        return kExitRefused;
    }
    // The record Write Device would send (no box: nothing is written here).
    if (sent.mSensor.mSensorType == 0) {
        c.screen.Message(kNoSensorCaption, c.session.UserMode ? kNoSensorTextUser : kNoSensorTextDev, MsgIcon::Error);
        return kExitFile;
    }
    return 0;
}

CliEntry DiffCommand()
{
    return {"diff", "diff FILE.cfg", "the detector against what write FILE.cfg would send",
            "Compares the detector with what `write FILE.cfg` would send, nothing written: the file is read as "
            "write reads it, the detector as Read Device reads it, and each field the write would change is "
            "printed after the status line as \"field: detector -> file\", with its unit. Exit 0 when the write "
            "would change nothing, 1 when it would; a file that cannot be read or is refused exits 65, settings "
            "whose write ranges leave the record 67, a failed read its status byte. When the write would stop "
            "because the installed sensor is not the file's, stderr says so.",
            {},
            [](CliContext &c) {
                if (c.args.size() != 1 || c.args[0].empty())
                    return kExitUsage;
                RTamselCFG sent{};
                if (const int code = ConfigOfFile(c, c.args[0], sent); code != 0)
                    return code;
                const RCompare compare = CompareBeforeWrite(c.session, c.screen, sent);
                if (!compare.Ok())
                    return static_cast<int>(compare.mRead.mStatus);
                for (const std::string &line : compare.mLines)
                    std::cout << line << "\n";
                std::cout << std::flush;
                if (compare.mSensorMismatch)
                    std::cerr << "beamport-cli: write would change nothing: the installed sensor is not the file's ("
                              << StatusMessage(kStatusSensorMismatch) << ", status 148)" << std::endl;
                return compare.mLines.empty() ? 0 : 1;
            },
            ECliKind::kCompare};
}
