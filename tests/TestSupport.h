#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

// A fresh folder for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

struct RunResult {
    int status;
    std::string output;
};

// Runs the whole command line in-process; "tretool" stands as argument 0.
RunResult runTool(std::initializer_list<std::string> arguments);
