// Where a start of the whole viewer puts its settings, and which banner page it shows: a copy
// of the program (the settings probe) started from a program folder that the user cannot
// write, from a writable one (a portable install) and from an installed one, with nothing set
// but HOME.

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tlg::testing::readFile;
using tlg::testing::TempDir;

struct ProgramRun {
    int status = -1;
    std::string output;
};

// Runs the program with HOME set and the settings variables unset, as `user` when given
// (from root), on the offscreen platform; stops it after a minute.
ProgramRun runProgram(const std::string& program, const std::string& home, const passwd* user)
{
    int out[2];
    if (::pipe(out) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        ::close(out[1]);
        if (user && (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 ||
                     ::setuid(user->pw_uid) != 0))
            ::_exit(125);
        for (const char* name : {"TLGVIEW_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                 "XDG_CONFIG_DIRS", "XDG_DATA_DIRS", "XDG_CURRENT_DESKTOP",
                                 "XDG_RUNTIME_DIR", "TLGVIEW_BANNER_URL", "DISPLAY"})
            ::unsetenv(name);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (::chdir(home.c_str()) != 0)
            ::_exit(126);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ProgramRun run;
    const std::time_t deadline = std::time(nullptr) + 60;
    for (;;) {
        pollfd fd{out[0], POLLIN, 0};
        const int ready = ::poll(&fd, 1, 1000);
        if (ready > 0) {
            char buffer[4096];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            run.output.append(buffer, static_cast<std::size_t>(n));
        } else if (std::time(nullptr) > deadline) {
            ::kill(child, SIGKILL);
            run.output += "\n(stopped after a minute)";
            break;
        }
    }
    ::close(out[0]);
    ::waitpid(child, &run.status, 0);
    return run;
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SettingsStartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::permissions(m_root.folder(), fs::perms(0755));
        fs::create_directories(home);
    }

    // A copy of the probe at `relative` under the scratch root.
    std::string installProgram(const std::string& relative)
    {
        const std::string path = m_root.path(relative);
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(TLG_SETTINGS_PROBE, path);
        fs::permissions(path, fs::perms(0755));
        return path;
    }

    std::string path(const std::string& relative) const { return m_root.path(relative); }

    TempDir m_root;
    const std::string home = m_root.path("home");
};

TEST_F(SettingsStartTest, AUserWhoCannotWriteTheProgramFolderGetsTheConfigFolder)
{
    const std::string program = installProgram("opt/tlgview/tlgview");
    const std::string folder = path("opt/tlgview/");
    // A file list that came with the program, read from there.
    m_root.write("opt/tlgview/Filelist.TLG", "Nightly;/var/log/nightly.log\r\n");

    // Root may write anywhere: the start runs as nobody then, who cannot write the folder.
    const passwd* user = nullptr;
    if (::geteuid() == 0) {
        user = ::getpwnam("nobody");
        if (!user)
            GTEST_SKIP() << "running as root, and there is no user nobody to start as";
        ASSERT_EQ(::chown(home.c_str(), user->pw_uid, user->pw_gid), 0) << std::strerror(errno);
    } else {
        fs::permissions(folder, fs::perms(0555));
    }
    const std::vector<std::string> before = namesIn(folder);

    const ProgramRun run = runProgram(program, home, user);
    fs::permissions(folder, fs::perms(0755));
    ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
    EXPECT_NE(run.output.find("boxes=0\n"), std::string::npos) << run.output;
    const std::string config = home + "/.config/tlgview/";
    EXPECT_NE(run.output.find("settings=" + config + "\n"), std::string::npos) << run.output;
    // The settings that the first start writes landed in the config folder, created with
    // its parents; nothing was written beside the program.
    EXPECT_EQ(namesIn(config), (std::vector<std::string>{"MasterSrv.TLG", "TlgFormat.ini",
                                                         "tlg-1.htm", "tlg-2.htm", "tlg-3.htm"}));
    EXPECT_NE(run.output.find("page=" + config + "tlg-1.htm\n"), std::string::npos) << run.output;
    EXPECT_NE(readFile(config + "TlgFormat.ini").find("[[Default]]"), std::string::npos);
    EXPECT_EQ(namesIn(folder), before);
    EXPECT_NE(run.output.find("entry=/var/log/nightly.log\n"), std::string::npos) << run.output;
}

TEST_F(SettingsStartTest, AWritableProgramFolderIsAPortableInstall)
{
    const std::string program = installProgram("portable/tlgview");
    const ProgramRun run = runProgram(program, home, nullptr);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
    EXPECT_NE(run.output.find("settings=" + path("portable/") + "\n"), std::string::npos)
        << run.output;
    EXPECT_EQ(namesIn(path("portable")),
              (std::vector<std::string>{"MasterSrv.TLG", "TlgFormat.ini", "tlg-1.htm", "tlg-2.htm",
                                        "tlg-3.htm", "tlgview"}));
    EXPECT_FALSE(fs::exists(home + "/.config/tlgview"));
}

TEST_F(SettingsStartTest, AnInstalledProgramFolderIsNeverTheSettingsFolder)
{
    // Writable here (by root, say), but the program's data is installed beside it.
    const std::string program = installProgram("usr/bin/tlgview");
    fs::create_directories(path("usr/share/tlgview"));
    for (const char* page : {"tlg-1.htm", "tlg-2.htm", "tlg-3.htm"})
        m_root.write(std::string("usr/share/tlgview/") + page, "<p>installed</p>");
    const ProgramRun run = runProgram(program, home, nullptr);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
    EXPECT_NE(run.output.find("settings=" + home + "/.config/tlgview/\n"), std::string::npos)
        << run.output;
    EXPECT_EQ(namesIn(path("usr/bin")), std::vector<std::string>{"tlgview"});
    // The banner shows the installed pages and keeps no copies of its own.
    EXPECT_EQ(namesIn(home + "/.config/tlgview"),
              (std::vector<std::string>{"MasterSrv.TLG", "TlgFormat.ini"}));
    EXPECT_NE(run.output.find("page=" + path("usr/share/tlgview/tlg-1.htm") + "\n"),
              std::string::npos)
        << run.output;
}

} // namespace
