// Says whether this machine lets a program mount through FUSE, apart from
// tremount: it mounts a file system that serves nothing at the folder given,
// and unmounts it at once. Exit status 0 when the mount worked.
#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        return 2;
    }
    char name[] = "fuse_probe";
    char* arguments[] = {name, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, arguments);
    const fuse_lowlevel_ops operations{};
    fuse_session* session = fuse_session_new(&args, &operations, sizeof operations, nullptr);
    fuse_opt_free_args(&args);
    if (session == nullptr) {
        return 1;
    }
    const int mounted = fuse_session_mount(session, argv[1]);
    if (mounted == 0) {
        fuse_session_unmount(session);
    }
    fuse_session_destroy(session);
    return mounted == 0 ? 0 : 1;
}
