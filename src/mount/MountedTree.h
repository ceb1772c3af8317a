#pragma once

// An archive's tree (tre::Tree) served read-only through FUSE's low-level
// interface: inode N is node N - 1, so the root is FUSE's root inode 1, and
// numbers stay as they are for the life of the mount. The kernel may cache
// everything for as long as it likes: nothing here ever changes.

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <ctime>
#include <sys/types.h>

#include "tre/Archive.h"
#include "tre/Tree.h"

struct MountedTree {
    const tre::Archive* archive = nullptr;
    const tre::Tree* tree = nullptr;
    // the owner of every node: the user who mounted
    uid_t owner = 0;
    gid_t group = 0;
    // every time of every node: the archive's modification time
    struct timespec time {};
    // the kernel opens files and folders itself, without asking
    bool opensInKernel = false;
};

// The operations, for fuse_session_new() with a MountedTree as user data.
// Every change fails with EROFS (the mount is read-only anyway).
const fuse_lowlevel_ops& mountedTreeOperations();
