// A fresh home and data directory per test, with SK_HOME and XDG_DATA_HOME pointing at them.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <zlib.h>

#include "vfs/vfs.h"

struct TempHome {
    std::string root;       // everything the test creates lives below this
    std::string home;       // search directory 0, with its trailing "/"
    std::string data;       // search directory 1, with its trailing "/"

    TempHome()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "skorva-test-XXXXXX").string();
        char *made = mkdtemp(pattern.data());
        root = made ? made : "";
        home = root + "/xdg/Skorva/";
        data = root + "/data/";
        std::filesystem::create_directories(data);
        setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
        setenv("SK_HOME", (root + "/data").c_str(), 1);
        vfs_reset_for_tests();
    }
    ~TempHome()
    {
        vfs_reset_for_tests();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

inline void write_bytes(const std::string &path, const std::string &bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

inline std::string read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool exists(const std::string &path)
{
    return std::filesystem::exists(path);
}

// An RFC 1952 member made by zlib's own gzip writer.
inline std::string gzip_bytes(const std::string &plain)
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, plain.size()) + 64, '\0');
    z.next_in = (Bytef *)plain.data();
    z.avail_in = (uInt)plain.size();
    z.next_out = (Bytef *)out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Reads a whole stream through data_getc.
inline std::string drain(DataFile *f)
{
    std::string s;
    for (int c; (c = data_getc(f)) >= 0;)
        s += (char)c;
    return s;
}

// An archive of (name, content) pairs in the ".saf" layout.
inline std::string make_archive(std::initializer_list<std::pair<std::string, std::string>> members)
{
    std::string header, body;
    for (auto &m : members) {
        header += std::to_string(m.second.size()) + " " + m.first + "\n";
        body += m.second;
    }
    return header + "-\n" + body;
}
