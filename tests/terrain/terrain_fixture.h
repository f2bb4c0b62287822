// A fresh data directory and home directory per test, with the log captured in a file.
#pragma once
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/mem.h"
#include "platform/log.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"
#include "vfs/vfs.h"

class TerrainFiles : public ::testing::Test {
protected:
    std::string root, data, home, log_path;

    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "skterrainXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back(0);
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        root = buf.data();
        data = root + "/data";
        home = root + "/home";
        log_path = root + "/log.txt";
        mkdir(data.c_str(), 0777);
        mkdir(home.c_str(), 0777);
        setenv("SK_HOME", data.c_str(), 1);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        setenv("TOVA_LOGFILE", log_path.c_str(), 1);
        log_reset_for_tests();
        vfs_reset_for_tests();
        terrain_set_verbosity(0);
        terrain_set_lighting(v3(1, 1, 1), v3(1, 1, 1), v3(0.5f, 0.5f, 0.5f));
    }

    void TearDown() override
    {
        terrain_unload(&t);
        track_list_free();
        log_reset_for_tests();
        vfs_reset_for_tests();
        std::string cmd = "rm -rf '" + root + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove the temporary directory";
    }

    std::string log_text()
    {
        std::string text;
        if (FILE *f = fopen(log_path.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                text.append(buf, n);
            fclose(f);
        }
        return text;
    }

    bool logged(const char *text) { return log_text().find(text) != std::string::npos; }

    // Writes bytes to a file under the data directory, creating folders.
    void put(const std::string &name, const void *bytes, size_t n)
    {
        std::string path = data + "/" + name;
        make_parent_dirs(path.c_str());
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes, 1, n, f);
        fclose(f);
    }
    void put(const std::string &name, const std::string &text) { put(name, text.data(), text.size()); }

    std::string read_home(const std::string &name)
    {
        std::string text;
        if (FILE *f = fopen((home + "/Skorva/" + name).c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                text.append(buf, n);
            fclose(f);
        }
        return text;
    }

    // "terrain.hf" with inline little-endian samples (all of them unless 'count' is given).
    void put_inline_hf(const std::string &folder, int n, float d, float lo, float hi, const std::vector<uint16_t> &s,
                       size_t count = (size_t)-1)
    {
        char header[128];
        snprintf(header, sizeof header, "%d %f %f %f\n:", n, d, lo, hi);
        std::string bytes = header;
        for (size_t k = 0; k < s.size() && k < count; k++) {
            bytes.push_back((char)(s[k] & 255));
            bytes.push_back((char)(s[k] >> 8));
        }
        put(folder + "/terrain.hf", bytes);
    }

    static std::string ppm(int w, int h, uint8_t value, const char *magic = "P6", int channels = 3)
    {
        std::string bytes = std::string(magic) + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
        bytes.append((size_t)w * h * channels, (char)value);
        return bytes;
    }

    // A complete minimal track of size exponent 7 (dim 257), every sample 'sample'.
    void put_track(const std::string &folder, uint16_t sample = 0, float lo = 0, float hi = 10)
    {
        int dim = 257;
        put_inline_hf(folder, 7, 2.0f, lo, hi, std::vector<uint16_t>((size_t)dim * dim, sample));
        put(folder + "/shadingx2.ppm", ppm(dim, dim, 100));
        put(folder + "/tileinfo", "texture @dirt.png\naddtile\ntexture @grass.png\naddtile\n");
        put(folder + "/tilemap", std::string((size_t)128 * 128, '\0'));
    }

    Terrain t = {};
};
