#include "mount/MountedTree.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <vector>

namespace {

// the tree never changes: the kernel may keep what it learns
constexpr double cacheSeconds = 86400.0;

const MountedTree& mountedOf(fuse_req_t request)
{
    return *static_cast<const MountedTree*>(fuse_req_userdata(request));
}

tre::Tree::Node nodeOf(fuse_ino_t inode) { return static_cast<tre::Tree::Node>(inode - 1); }

fuse_ino_t inodeOf(tre::Tree::Node node) { return fuse_ino_t{node} + 1; }

bool isNode(const MountedTree& mounted, fuse_ino_t inode)
{
    return inode >= 1 && inode - 1 < mounted.tree->nodeCount();
}

// Runs a request's work: no exception may unwind into libfuse, so one that
// escapes answers the request with the error that fits it.
template <typename Work> void answering(fuse_req_t request, Work&& work) noexcept
{
    try {
        work();
    } catch (const std::bad_alloc&) {
        fuse_reply_err(request, ENOMEM);
    } catch (...) {
        fuse_reply_err(request, EIO);
    }
}

struct stat attributesOf(const MountedTree& mounted, tre::Tree::Node node)
{
    const tre::Tree& tree = *mounted.tree;
    struct stat attributes {};
    attributes.st_ino = inodeOf(node);
    attributes.st_uid = mounted.owner;
    attributes.st_gid = mounted.group;
    const struct timespec time =
        tree.isFolder(node) ? mounted.folderTime : mounted.archiveTimes[tree.archiveIndex(node)];
    attributes.st_atim = time;
    attributes.st_mtim = time;
    attributes.st_ctim = time;
    attributes.st_blksize = 4096;
    if (tree.isFolder(node)) {
        attributes.st_mode = S_IFDIR | mounted.folderMode;
        attributes.st_nlink = 2 + tree.subfolderCount(node);
    } else {
        attributes.st_mode = S_IFREG | mounted.fileMode;
        attributes.st_nlink = 1;
        attributes.st_size = tree.dataSize(node);
        attributes.st_blocks = (tree.dataSize(node) + 511) / 512;
    }
    return attributes;
}

fuse_entry_param entryOf(const MountedTree& mounted, tre::Tree::Node node)
{
    fuse_entry_param entry{};
    entry.ino = inodeOf(node);
    entry.attr = attributesOf(mounted, node);
    entry.attr_timeout = cacheSeconds;
    entry.entry_timeout = cacheSeconds;
    return entry;
}

void init(void* userdata, fuse_conn_info* connection)
{
    // file data goes from the archive to the kernel without a copy here
    connection->want |= connection->capable & (FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE);
    // every listing carries every entry's attributes: a first ls -l, find
    // -ls or tar of a large folder then needs no look-up for each file
    connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    static_cast<MountedTree*>(userdata)->opensInKernel = (connection->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0 &&
                                                         (connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0;
}

// The longest name a folder of any file system here may hold.
constexpr std::size_t nameLimit = 255;

void lookup(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    answering(request, [&] {
        const MountedTree& mounted = mountedOf(request);
        if (!isNode(mounted, parent) || !mounted.tree->isFolder(nodeOf(parent))) {
            fuse_reply_err(request, ENOTDIR);
            return;
        }
        if (std::strlen(name) > nameLimit) {
            fuse_reply_err(request, ENAMETOOLONG);
            return;
        }
        const tre::Tree::Node node = mounted.tree->find(nodeOf(parent), name);
        if (node == tre::Tree::none) {
            // a negative answer that the kernel may keep too
            fuse_entry_param missing{};
            missing.entry_timeout = cacheSeconds;
            fuse_reply_entry(request, &missing);
            return;
        }
        const fuse_entry_param entry = entryOf(mounted, node);
        fuse_reply_entry(request, &entry);
    });
}

void forget(fuse_req_t request, fuse_ino_t /*inode*/, std::uint64_t /*lookups*/) { fuse_reply_none(request); }

void forgetMany(fuse_req_t request, std::size_t /*count*/, fuse_forget_data* /*forgets*/) { fuse_reply_none(request); }

void getattr(fuse_req_t request, fuse_ino_t inode, fuse_file_info* /*file*/)
{
    answering(request, [&] {
        const MountedTree& mounted = mountedOf(request);
        if (!isNode(mounted, inode)) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        const struct stat attributes = attributesOf(mounted, nodeOf(inode));
        fuse_reply_attr(request, &attributes, cacheSeconds);
    });
}

// Opens need not reach here: where the kernel can do without them, ENOSYS
// tells it to open files and folders itself from then on.
void open(fuse_req_t request, fuse_ino_t /*inode*/, fuse_file_info* file)
{
    if ((file->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(request, EROFS);
    } else if (mountedOf(request).opensInKernel) {
        fuse_reply_err(request, ENOSYS);
    } else {
        file->keep_cache = 1;
        fuse_reply_open(request, file);
    }
}

void opendir(fuse_req_t request, fuse_ino_t /*inode*/, fuse_file_info* file)
{
    if (mountedOf(request).opensInKernel) {
        fuse_reply_err(request, ENOSYS);
    } else {
        fuse_reply_open(request, file);
    }
}

// One buffer naming a stretch of a file's archive, so that FUSE can splice
// it rather than copy it through this process.
fuse_bufvec archiveBytes(const MountedTree& mounted, tre::Tree::Node file, std::int64_t from, std::int64_t size)
{
    const tre::Tree& tree = *mounted.tree;
    fuse_bufvec data{};
    data.count = 1;
    data.buf[0].size = static_cast<std::size_t>(size);
    data.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    data.buf[0].fd = static_cast<int>(mounted.archives[tree.archiveIndex(file)]->nativeHandle());
    data.buf[0].pos = tree.dataOffset(file) + from;
    return data;
}

void read(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, fuse_file_info* /*file*/)
{
    answering(request, [&] {
        const MountedTree& mounted = mountedOf(request);
        if (!isNode(mounted, inode) || mounted.tree->isFolder(nodeOf(inode))) {
            fuse_reply_err(request, EISDIR);
            return;
        }
        const tre::Tree::Node file = nodeOf(inode);
        if (!mounted.archiveIntact(mounted.tree->archiveIndex(file))) {
            fuse_reply_err(request, EIO);
            return;
        }
        const std::int64_t fileSize = mounted.tree->dataSize(file);
        const std::int64_t count =
            offset >= fileSize ? 0 : std::min<std::int64_t>(static_cast<std::int64_t>(size), fileSize - offset);
        // the bytes go straight from the archive's file (spliced where the
        // kernel can): a file that shrank since gives what it still holds
        fuse_bufvec data = archiveBytes(mounted, file, offset, count);
        fuse_reply_data(request, &data, FUSE_BUF_SPLICE_MOVE);
        if (mounted.readAhead != nullptr) {
            mounted.readAhead->after(file);
        }
    });
}

// Directory offsets: 0 is ".", 1 is "..", and 2 + N the folder's Nth child.
template <bool plus> void listFolderEntries(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset)
{
    const MountedTree& mounted = mountedOf(request);
    if (!isNode(mounted, inode) || !mounted.tree->isFolder(nodeOf(inode))) {
        fuse_reply_err(request, ENOTDIR);
        return;
    }
    const tre::Tree& tree = *mounted.tree;
    const tre::Tree::Node folder = nodeOf(inode);
    const std::span<const tre::Tree::Node> children = tree.children(folder);
    std::vector<char> buffer(size);
    std::size_t used = 0;
    std::string name;
    for (auto at = static_cast<std::size_t>(std::max<off_t>(offset, 0)); at < children.size() + 2; ++at) {
        const tre::Tree::Node node = at == 0 ? folder : at == 1 ? tree.parent(folder) : children[at - 2];
        name.assign(at == 0 ? "." : at == 1 ? ".." : tree.name(node));
        const auto next = static_cast<off_t>(at + 1);
        std::size_t length = 0;
        if constexpr (plus) {
            const fuse_entry_param entry = entryOf(mounted, node);
            length = fuse_add_direntry_plus(request, buffer.data() + used, size - used, name.c_str(), &entry, next);
        } else {
            const struct stat attributes = attributesOf(mounted, node);
            length = fuse_add_direntry(request, buffer.data() + used, size - used, name.c_str(), &attributes, next);
        }
        if (length > size - used) {
            break; // the rest in the next request
        }
        used += length;
    }
    fuse_reply_buf(request, buffer.data(), used);
}

template <bool plus> void listFolder(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset)
{
    answering(request, [&] { listFolderEntries<plus>(request, inode, size, offset); });
}

void readdir(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, fuse_file_info* /*file*/)
{
    listFolder<false>(request, inode, size, offset);
}

void readdirplus(fuse_req_t request, fuse_ino_t inode, std::size_t size, off_t offset, fuse_file_info* /*file*/)
{
    listFolder<true>(request, inode, size, offset);
}

void statfs(fuse_req_t request, fuse_ino_t /*inode*/)
{
    const MountedTree& mounted = mountedOf(request);
    struct statvfs figures {};
    figures.f_bsize = 4096;
    figures.f_frsize = 4096;
    std::int64_t bytes = 0;
    for (const tre::Archive* archive : mounted.archives) {
        bytes += archive->size();
    }
    figures.f_blocks = static_cast<fsblkcnt_t>((bytes + 4095) / 4096);
    figures.f_files = mounted.tree->nodeCount();
    figures.f_namemax = tre::Entry::nameFieldSize;
    figures.f_flag = ST_RDONLY;
    fuse_reply_statfs(request, &figures);
}

// No node has extended attributes: none to read, an empty list.
void getxattr(fuse_req_t request, fuse_ino_t /*inode*/, const char* /*name*/, std::size_t /*size*/)
{
    fuse_reply_err(request, ENODATA);
}

void listxattr(fuse_req_t request, fuse_ino_t /*inode*/, std::size_t size)
{
    if (size == 0) {
        fuse_reply_xattr(request, 0);
    } else {
        fuse_reply_buf(request, nullptr, 0);
    }
}

// Every change: a read-only file system.
void refuse(fuse_req_t request) { fuse_reply_err(request, EROFS); }

} // namespace

ReadAhead::ReadAhead(const MountedTree& mounted, fuse_session* session)
    : mounted_(mounted), session_(session),
      handed_(std::make_unique<std::atomic<std::uint64_t>[]>((mounted.tree->nodeCount() + 63) / 64)),
      thread_([this] { run(); })
{
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void ReadAhead::after(tre::Tree::Node file)
{
    markHanded(file); // read: in the kernel's cache now
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // a reader that outruns the hand needs none
        if (queue_.size() >= 64) {
            return;
        }
        queue_.push_back(file);
    }
    wake_.notify_one();
}

void ReadAhead::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        const tre::Tree::Node file = queue_.front();
        queue_.pop_front();
        lock.unlock();
        try {
            handFilesAfter(file);
        } catch (...) {
            // handing ahead is only a help: the reads ask for what it missed
        }
        lock.lock();
    }
}

void ReadAhead::markHanded(tre::Tree::Node node) { handed_[node / 64].fetch_or(std::uint64_t{1} << (node % 64)); }

void ReadAhead::handFilesAfter(tre::Tree::Node file)
{
    // up to 64 files and 1 MiB a time: enough to run ahead of a reader, too
    // little to flood the cache
    constexpr int maxFiles = 64;
    constexpr std::int64_t maxBytes = std::int64_t{1} << 20;
    const tre::Tree& tree = *mounted_.tree;
    // Children are in the order they were made, so their numbers rise. The
    // file right after is skipped: the reader is likely reading it already,
    // and its page, locked for that read, would hold the hand back.
    const std::span<const tre::Tree::Node> siblings = tree.children(tree.parent(file));
    auto at = std::upper_bound(siblings.begin(), siblings.end(), file);
    if (at != siblings.end()) {
        ++at;
    }
    std::int64_t budget = maxBytes;
    for (int files = 0; at != siblings.end() && files < maxFiles; ++at, ++files) {
        const tre::Tree::Node next = *at;
        const std::uint64_t bit = std::uint64_t{1} << (next % 64);
        if (tree.isFolder(next) || tree.dataSize(next) > budget || (handed_[next / 64].load() & bit) != 0 ||
            !mounted_.archiveIntact(tree.archiveIndex(next))) {
            continue;
        }
        budget -= tree.dataSize(next);
        fuse_bufvec data = archiveBytes(mounted_, next, 0, tree.dataSize(next));
        // a file the kernel does not know (yet) is simply not handed
        if (fuse_lowlevel_notify_store(session_, inodeOf(next), 0, &data, FUSE_BUF_SPLICE_MOVE) == 0) {
            markHanded(next);
        }
    }
}

bool MountedTree::archiveIntact(std::size_t archive) const
{
    if (changed[archive].load(std::memory_order_relaxed)) {
        return false;
    }
    // an archive whose state cannot be told is no longer trusted either
    if (!archives[archive]->writtenSinceOpened().value_or(true)) {
        return true;
    }
    if (!changed[archive].exchange(true) && say) {
        say("tremount: the archive changed while mounted (" + archivePaths[archive] + "); unmount and mount it again");
    }
    return false;
}

const fuse_lowlevel_ops& mountedTreeOperations()
{
    static const fuse_lowlevel_ops operations = [] {
        fuse_lowlevel_ops ops{};
        ops.init = init;
        ops.lookup = lookup;
        ops.forget = forget;
        ops.forget_multi = forgetMany;
        ops.getattr = getattr;
        ops.open = open;
        ops.opendir = opendir;
        ops.read = read;
        ops.readdir = readdir;
        ops.readdirplus = readdirplus;
        ops.statfs = statfs;
        ops.getxattr = getxattr;
        ops.listxattr = listxattr;
        ops.setattr = [](fuse_req_t request, fuse_ino_t, struct stat*, int, fuse_file_info*) { refuse(request); };
        ops.mknod = [](fuse_req_t request, fuse_ino_t, const char*, mode_t, dev_t) { refuse(request); };
        ops.mkdir = [](fuse_req_t request, fuse_ino_t, const char*, mode_t) { refuse(request); };
        ops.unlink = [](fuse_req_t request, fuse_ino_t, const char*) { refuse(request); };
        ops.rmdir = [](fuse_req_t request, fuse_ino_t, const char*) { refuse(request); };
        ops.symlink = [](fuse_req_t request, const char*, fuse_ino_t, const char*) { refuse(request); };
        ops.rename = [](fuse_req_t request, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned int) {
            refuse(request);
        };
        ops.link = [](fuse_req_t request, fuse_ino_t, fuse_ino_t, const char*) { refuse(request); };
        ops.write = [](fuse_req_t request, fuse_ino_t, const char*, std::size_t, off_t, fuse_file_info*) {
            refuse(request);
        };
        ops.create = [](fuse_req_t request, fuse_ino_t, const char*, mode_t, fuse_file_info*) { refuse(request); };
        ops.setxattr = [](fuse_req_t request, fuse_ino_t, const char*, const char*, std::size_t, int) {
            refuse(request);
        };
        ops.removexattr = [](fuse_req_t request, fuse_ino_t, const char*) { refuse(request); };
        ops.fallocate = [](fuse_req_t request, fuse_ino_t, int, off_t, off_t, fuse_file_info*) { refuse(request); };
        return ops;
    }();
    return operations;
}
