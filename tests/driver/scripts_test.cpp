// ./run.sh as a player starts it, in a copy of the scripts with the package tools, CMake and
// the game replaced by stand-ins that note each call.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <string>

#include "driver_fixture.h"

struct RunScript : DriverDirs {
    std::string source = std::string(SK_TEST_DATA_DIR) + "/../..";
    std::string copy, tools, calls;

    void SetUp() override
    {
        DriverDirs::SetUp();
        copy = root + "/src";
        tools = root + "/tools";
        calls = root + "/calls";
        write_file(copy + "/run.sh", read_file(source + "/run.sh"));
        write_file(copy + "/scripts/install-deps.sh", read_file(source + "/scripts/install-deps.sh"));
        chmod((copy + "/run.sh").c_str(), 0755);
        chmod((copy + "/scripts/install-deps.sh").c_str(), 0755);
        // Every package counts as installed until "missing" exists; installing fails.
        tool("dpkg-query", "echo dpkg-query >>'" + calls + "'\n[ -e '" + root +
                               "/missing' ] && exit 1\nprintf 'install ok installed'\n");
        tool("apt-get", "echo apt-get \"$1\" >>'" + calls + "'\nexit 1\n");
        tool("sudo", "\"$@\"\n");
        // Configuring makes the build directory; the "game" notes its arguments.
        tool("game", "echo skorva \"$@\" >>'" + calls + "'\n");
        tool("cmake", "echo cmake \"$1\" >>'" + calls + "'\nif [ \"$1\" = -S ]; then mkdir -p build/game && "
                      ": >build/build.ninja && cp '" + tools + "/game' build/game/skorva; fi\n");
    }
    void tool(const std::string &name, const std::string &body)
    {
        std::string path = tools + "/" + name;
        write_file(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
    }
    // Runs ./run.sh with the display variable given ("" for none); the calls it made.
    std::string start(const std::string &display, int *status, std::string *err)
    {
        unlink(calls.c_str());
        std::string cmd = "env -u WAYLAND_DISPLAY -u DISPLAY PATH='" + tools + ":/usr/bin:/bin'" +
                          (display.empty() ? "" : " DISPLAY=" + display) + " '" + copy + "/run.sh' --nosound" +
                          " >/dev/null 2>'" + root + "/err'";
        int rc = system(cmd.c_str());
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        *err = read_file(root + "/err");
        return read_file(calls);
    }
};

TEST_F(RunScript, WithoutADisplayItSaysSoAndStops)
{
    int status;
    std::string err;
    std::string made = start("", &status, &err);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "Skorva needs a display to show its window: neither DISPLAY nor WAYLAND_DISPLAY is set.\n");
    EXPECT_EQ(made, "") << "nothing is checked, built or started";
}

TEST_F(RunScript, PackagesAreCheckedOnlyForANewBuildOrAfterAFailedCheck)
{
    int status;
    std::string err;
    std::string first = start(":7", &status, &err);
    ASSERT_EQ(status, 0) << err;
    EXPECT_NE(first.find("dpkg-query\n"), std::string::npos) << first;
    EXPECT_NE(first.find("cmake -S\n"), std::string::npos);
    EXPECT_NE(first.find("skorva --nosound\n"), std::string::npos);

    std::string later = start(":7", &status, &err);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(later, "cmake --build\nskorva --nosound\n") << "the build is brought up to date, nothing else";

    // A check that fails (a package gone, no way to install it) stops the start, and the
    // next start checks again.
    write_file(root + "/missing", "");
    std::string failed = start(":7", &status, &err);
    EXPECT_EQ(failed, "cmake --build\nskorva --nosound\n") << "a working build is not checked again";
    unlink((copy + "/build/.packages-checked").c_str());
    failed = start(":7", &status, &err);
    EXPECT_NE(status, 0);
    EXPECT_EQ(failed.find("skorva"), std::string::npos) << failed;
    unlink((root + "/missing").c_str());
    std::string again = start(":7", &status, &err);
    ASSERT_EQ(status, 0) << err;
    EXPECT_NE(again.find("dpkg-query\n"), std::string::npos) << again;
    EXPECT_EQ(start(":7", &status, &err), "cmake --build\nskorva --nosound\n");
}
