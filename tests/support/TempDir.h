// A private temporary directory, removed with everything in it when the object goes away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` to `name` inside the directory and returns the full path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

  private:
    std::string path_;
};

std::vector<uint8_t> readFileBytes(const std::string& path);
bool fileExists(const std::string& path);
// Names of the entries of a directory, sorted, without "." and "..".
std::vector<std::string> listDirectory(const std::string& path);
