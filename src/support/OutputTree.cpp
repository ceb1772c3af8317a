// The platform-independent part of OutputTree; the rest is in
// OutputTreePosix.cpp and OutputTreeWindows.cpp.
#include "support/OutputTree.h"

namespace tre {

OutputTree::~OutputTree()
{
    for (const OpenFolder& folder : chain_) {
        closeFolder(folder.handle);
    }
    if (root_ != -1) {
        closeFolder(root_);
    }
}

std::size_t OutputTree::keepSharedFolders(std::span<const std::string_view> folders)
{
    std::size_t shared = 0;
    while (shared < chain_.size() && shared < folders.size() && chain_[shared].name == folders[shared]) {
        ++shared;
    }
    while (chain_.size() > shared) {
        closeFolder(chain_.back().handle);
        chain_.pop_back();
    }
    return shared;
}

OutputTree::Created OutputTree::createFile(std::span<const std::string_view> components, File& file,
                                           const std::optional<FileIdentity>& keep)
{
    if (root_ == -1 || components.empty()) {
        return {Result::failed, Making::file, std::make_error_code(std::errc::invalid_argument)};
    }
    const std::span<const std::string_view> folders = components.first(components.size() - 1);
    for (std::size_t i = keepSharedFolders(folders); i < folders.size(); ++i) {
        const Created opened = openFolder(folders[i]);
        if (opened.result != Result::created) {
            return opened;
        }
    }
    return createLeaf(components.back(), file, keep);
}

} // namespace tre
