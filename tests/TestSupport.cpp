#include "TestSupport.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "cli/CommandLine.h"

TempDir::TempDir()
{
    static std::atomic<unsigned> serial{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("tretool-test-" + std::to_string(random()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

RunResult runTool(std::initializer_list<std::string> arguments)
{
    std::vector<const char*> argv{"tretool"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    std::ostringstream out;
    const int status = runCommandLine(argv, out);
    return {status, out.str()};
}
