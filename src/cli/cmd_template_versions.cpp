// template show NAME --versions: every version a template has had, oldest
// first, deleted ones too: its number, when, by whom and where it was saved,
// and the start of its hash. A name the store never had exits kExitFile, a
// store that cannot be read kExitUnavailable.
#include <iostream>

#include "cli/cli_commands.h"
#include "model/visible_text.h"
#include "records/store.h"
#include "records/templates.h"

int ShowTemplateVersions(TRecordStore &store, const std::string &name)
{
    std::vector<RStoredTemplate> versions;
    QString error;
    if (!TemplateVersions(store, name, versions, error)) {
        std::cerr << "beamport-cli: " << error.toStdString() << std::endl;
        return kExitUnavailable;
    }
    if (versions.empty()) {
        std::cerr << "beamport-cli: there is no template " << VisibleUtf8(name) << std::endl;
        return kExitFile;
    }
    std::cout << "Template " << name << ": " << versions.size() << (versions.size() == 1 ? " version" : " versions")
              << "\n";
    for (const RStoredTemplate &t : versions)
        std::cout << "version " << t.mTemplate.mVersion << "  " << VisibleText(t.mSaved).toStdString() << " by "
                  << VisibleText(t.mUser).toStdString() << "@" << VisibleText(t.mBench).toStdString() << "  sha256 "
                  << t.mTemplate.mHash.substr(0, 16) << (t.mHidden ? "  (deleted)" : "") << "\n";
    std::cout << std::flush;
    return 0;
}
