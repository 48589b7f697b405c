#include "driver/run_folder_lock.hpp"

#include "common/fatal_error.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace run_folder_lock {

namespace {

int held = -1;  // descriptor of the locked file, -1: not held

std::string holder_named_in(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    // Between a holder's lock and its writing the id the file is still empty.
    return pid > 0 ? "process " + std::to_string(pid) : "a process that has not yet written its id";
}

// Whether fd is still the file of that name: a run that ended between our
// open and our lock has removed it, and a lock on the removed file holds
// nothing.
bool still_named(int fd) {
    struct stat opened{}, named{};
    return fstat(fd, &opened) == 0 && stat(LOCK_FILE, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

}  // namespace

void hold() {
    if (held >= 0) return;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = open(LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            pdp::fatal({std::string("ERROR: can't create the lock file ") + LOCK_FILE + " in this folder: " +
                            std::strerror(errno),
                        "       run pdpcell in a folder you can write to"});
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                const std::string holder = holder_named_in(fd);
                close(fd);
                pdp::fatal({"ERROR: another pdpcell run (" + holder + ") is running in this folder; two runs in "
                                "one folder would corrupt each other's files",
                            "       wait for that run to end, or run this one in another folder"});
            }
            close(fd);
            pdp::fatal({std::string("ERROR: can't lock the file ") + LOCK_FILE + " in this folder: " +
                            std::strerror(error),
                        "       run pdpcell in a folder on a local file system"});
        }
        if (!still_named(fd)) {
            close(fd);
            continue;
        }
        // The id is for the message only: a full disk that keeps it out
        // does not weaken the lock.
        const std::string id = std::to_string(getpid()) + "\n";
        if (ftruncate(fd, 0) == 0) {
            const ssize_t written = pwrite(fd, id.data(), id.size(), 0);
            static_cast<void>(written);
        }
        held = fd;
        return;
    }
    pdp::fatal({std::string("ERROR: can't take the lock file ") + LOCK_FILE +
                    ": other runs keep creating and removing it",
                "       run this one in another folder"});
}

void release() {
    if (held < 0) return;
    // Removed while still locked, so no run can take the old file meanwhile.
    unlink(LOCK_FILE);
    close(held);
    held = -1;
}

}  // namespace run_folder_lock
