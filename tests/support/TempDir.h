#pragma once

#include <string>

namespace grellan::testing {

// A fresh directory under $TMPDIR, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Writes `content` to Path()/name and returns the full path.
    std::string Write(const std::string& name, const std::string& content,
                      bool executable = false) const;
    // Writes a /bin/sh script named `name` whose body is `body`.
    std::string WriteScript(const std::string& name, const std::string& body) const;

private:
    std::string path;
};

// What a shell command printed on standard output, and its exit status.
struct ProcessResult {
    std::string output;
    int status = -1;
};
ProcessResult RunShell(const std::string& command);

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// MD5 of `bytes` as computed by coreutils' md5sum (a Mac's md5), an implementation of its own.
std::string ReferenceMd5(const std::string& bytes);

}  // namespace grellan::testing
