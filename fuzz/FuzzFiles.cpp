#include "FuzzFiles.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class OwnedFolder {
public:
    OwnedFolder() : path_((std::filesystem::temp_directory_path() / "tretool-fuzz-XXXXXX").string())
    {
        if (::mkdtemp(path_.data()) == nullptr) {
            std::abort();
        }
    }
    OwnedFolder(const OwnedFolder&) = delete;
    OwnedFolder& operator=(const OwnedFolder&) = delete;
    ~OwnedFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

const std::string& fuzzFolder()
{
    static const OwnedFolder folder;
    return folder.path();
}
