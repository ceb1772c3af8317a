#pragma once

// Archives' tree (tre::Tree) served read-only through FUSE's low-level
// interface: inode N is node N - 1, so the root is FUSE's root inode 1, and
// numbers stay as they are for the life of the mount. The kernel may cache
// everything for as long as it likes: nothing here ever changes, and an
// archive that someone rewrites while it is mounted fails every read that
// reaches it from then on, rather than give a mixture of old and new bytes.

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "tre/Archive.h"
#include "tre/Tree.h"

class ReadAhead;

struct MountedTree {
    // the archives, in the order their entries were placed; files read from
    // the one they came from
    std::vector<const tre::Archive*> archives;
    // each archive's path, as messages name it
    std::vector<std::string> archivePaths;
    const tre::Tree* tree = nullptr;
    // the owner of every node, and the modes shown
    uid_t owner = 0;
    gid_t group = 0;
    mode_t fileMode = 0444;
    mode_t folderMode = 0555;
    // a file's times are its archive's modification time; a folder's, the
    // newest of them
    std::vector<struct timespec> archiveTimes;
    struct timespec folderTime {};
    // the kernel opens files and folders itself, without asking
    bool opensInKernel = false;
    // hands the kernel the files after those it reads; none until the
    // session runs
    ReadAhead* readAhead = nullptr;
    // says one line where the user sees it (standard error, or the system log)
    std::function<void(const std::string& line)> say;

    // Whether the archive is as it was mounted; the first time it is not,
    // says so, once. Checked on the held file (its size and modification
    // time), so a rename or a replacement of its name changes nothing.
    [[nodiscard]] bool archiveIntact(std::size_t archive) const;

    // set once an archive was found changed: every read of it fails from then on
    std::unique_ptr<std::atomic<bool>[]> changed;
};

// A program that reads one file of a folder mostly reads the next ones too
// (tar, cp -r, grep -r). After a read, the bytes of the files that follow it
// in its folder go to the kernel's cache, so that those reads need no
// request (on a virtual machine each costs tens of microseconds). A thread
// of its own does it: handing data in may wait for a page that a request
// being read holds, and the threads that serve requests must never wait.
class ReadAhead {
public:
    ReadAhead(const MountedTree& mounted, fuse_session* session);
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead();

    // After a read of `file`: what follows it, where not handed yet.
    void after(tre::Tree::Node file);

private:
    void run();
    void handFilesAfter(tre::Tree::Node file);
    void markHanded(tre::Tree::Node node);

    const MountedTree& mounted_;
    fuse_session* session_;
    // the files whose bytes were handed, a bit each
    std::unique_ptr<std::atomic<std::uint64_t>[]> handed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<tre::Tree::Node> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

// The operations, for fuse_session_new() with a MountedTree as user data.
// Every change fails with EROFS (the mount is read-only anyway); extended
// attributes are none (ENODATA, an empty list).
const fuse_lowlevel_ops& mountedTreeOperations();
