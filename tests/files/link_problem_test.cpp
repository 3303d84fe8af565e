// Files a user names are never written through a link someone else could
// have planted: one owned by another user, or any link in a folder others
// may write (a sticky temp folder).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "files/atomic_save.h"

namespace fs = std::filesystem;

TEST(LinkProblem, PlantedLinksAreRefusedOwnOnesInPrivateFoldersFollowed)
{
    const fs::path root = fs::temp_directory_path() / ("beamport-links-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "private");
    fs::create_directories(root / "shared");
    ::chmod((root / "private").c_str(), 0700);
    ::chmod((root / "shared").c_str(), 01777);
    const fs::path victim = root / "private" / "victim.txt";
    std::ofstream(victim) << "precious";

    fs::create_symlink(victim, root / "private" / "mine.csv");
    fs::create_symlink(victim, root / "shared" / "planted.csv");
    fs::create_symlink(root / "shared" / "planted.csv", root / "private" / "chain.csv");
    if (::geteuid() == 0) {
        fs::create_symlink(victim, root / "private" / "foreign.csv");
        ASSERT_EQ(::lchown((root / "private" / "foreign.csv").c_str(), 65534, 65534), 0);
    }
    const struct {
        const char *name;
        const char *problem; // empty: written through
    } rows[] = {
        {"private/mine.csv", ""},
        {"private/plain.csv", ""},
        {"shared/planted.csv", "in a folder others may write"},
        {"private/chain.csv", "in a folder others may write"},
        {"private/foreign.csv", "owned by another user"},
    };
    for (const auto &row : rows) {
        const fs::path path = root / row.name;
        if (!fs::exists(fs::symlink_status(path)) && std::string(row.name) == "private/foreign.csv")
            continue; // not root: no link of another user can be made here
        SCOPED_TRACE(row.name);
        const std::string problem = LinkProblem(path.string());
        std::string error;
        const bool written = WriteFileReplacing(path.string(), std::string("=cmd|' /C calc'!A0"), &error);
        if (std::string(row.problem).empty()) {
            EXPECT_EQ(problem, "");
            EXPECT_TRUE(written) << error;
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
            EXPECT_FALSE(written);
            EXPECT_EQ(error, problem);
        }
    }
    // Only the own link in the private folder reached the file behind it.
    std::ifstream in(victim);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "=cmd|' /C calc'!A0");
    fs::remove_all(root);
}
