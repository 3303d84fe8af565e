// template show NAME --versions: every version a template has had, oldest
// first, deleted ones too: its number, when, by whom and where it was saved,
// the start of its hash, the bench key that signed it, and why it must not
// be used when its hash or signature fails. A name the store never had exits kExitFile, a
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
                  << t.mTemplate.mHash.substr(0, 16) << "  key "
                  << (t.mKeyId.isEmpty() ? std::string("none") : VisibleText(t.mKeyId).toStdString())
                  << (t.mHidden ? "  (deleted)" : "")
                  << (t.mFault.isEmpty() ? std::string() : "  NOT USABLE: " + VisibleText(t.mFault).toStdString())
                  << "\n";
    std::cout << std::flush;
    return 0;
}
