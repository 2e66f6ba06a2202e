// SPDX-License-Identifier: MIT
// Runs bellwick-cli as a user would: in a folder of its own, with a private HOME, its output captured.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace bw::test {

namespace fs = std::filesystem;

struct CliRun
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the runner in `workDir` with HOME pointing into the temp folder (so no user settings leak in).
class CliTest : public ::testing::Test
{
protected:
    CliTest()
    {
        useHome(dir / "home");
        fs::create_directories(dir / "work");
    }

    // The runner's HOME (its settings and ~/.ssh come from there).
    void useHome(const fs::path &folder)
    {
        home = folder;
        fs::create_directories(home / ".config/Tolvenby");
    }

    pid_t spawn(const std::vector<std::string> &args)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            for (const auto &[name, value] : environment)
                ::setenv(name.c_str(), value.c_str(), 1);
            ::unsetenv("XDG_CONFIG_HOME");
            if (::chdir((dir / "work").c_str()) != 0)
                ::_exit(120);
            std::FILE *out = std::freopen((dir / "out.txt").c_str(), "w", stdout);
            std::FILE *err = std::freopen((dir / "err.txt").c_str(), "w", stderr);
            if (!out || !err)
                ::_exit(121);
            std::vector<char *> argv;
            argv.push_back(const_cast<char *>(BW_CLI_PATH));
            for (const auto &arg : args)
                argv.push_back(const_cast<char *>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(BW_CLI_PATH, argv.data());
            ::_exit(122);
        }
        return pid;
    }

    // Waits for the runner to end, at most `limit`; a runner still going then is killed and reported
    // with exit code -1, so a test whose item never reaches the awaited status fails instead of hanging.
    CliRun finish(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        int status = 0;
        pid_t ended = 0;
        waitUntil([&] { return (ended = ::waitpid(pid, &status, WNOHANG)) != 0; }, limit);
        CliRun run;
        if (ended != pid) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.out = readFile(dir / "out.txt");
            run.err = readFile(dir / "err.txt") + "\n(bellwick-cli did not end in time and was killed)";
            return run;
        }
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = readFile(dir / "out.txt");
        run.err = readFile(dir / "err.txt");
        return run;
    }

    CliRun run(
        const std::vector<std::string> &args, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        return finish(spawn(args), limit);
    }

    TempDir dir;
    fs::path home;
    std::vector<std::pair<std::string, std::string>> environment; // set in the runner only
};

} // namespace bw::test
