#include "TempDir.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>  // mkdtemp: Apple declares it only here

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace grellan::testing {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/grellan-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& content,
                           bool executable) const {
    std::string full = path + "/" + name;
    {
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) {
            throw std::runtime_error("cannot write " + full);
        }
    }
    if (executable) {
        chmod(full.c_str(), 0755);
    }
    return full;
}

std::string TempDir::WriteScript(const std::string& name, const std::string& body) const {
    return Write(name, "#!/bin/sh\n" + body, true);
}

ProcessResult RunShell(const std::string& command) {
    ProcessResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string ReferenceMd5(const std::string& bytes) {
    TempDir dir;
    const std::string file = dir.Write("input", bytes);
    // A Mac has BSD md5 (-r: the digest first, as md5sum prints it) and maybe no md5sum.
    const std::string command = "{ md5sum '" + file + "' || md5 -r '" + file + "'; } 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run md5sum");
    }
    char digest[33] = {};
    const size_t got = fread(digest, 1, 32, pipe);
    pclose(pipe);
    if (got != 32) {
        throw std::runtime_error("md5sum printed no digest");
    }
    return std::string(digest, 32);
}

}  // namespace grellan::testing
