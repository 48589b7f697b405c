// One run per folder, through the real binary: the test process holds the
// folder as a run would, and a second run there is refused untouched.
#include "driver/run_folder_lock.hpp"

#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>

TEST(RunFolderLock, ASecondRunInTheFolderIsRefusedAndNamesTheFirst) {
    TempFolder folder;
    copy_example_case();
    const int fd = open(run_folder_lock::LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const std::string holder = std::to_string(getpid()) + "\n";
    ASSERT_EQ(write(fd, holder.data(), holder.size()), static_cast<ssize_t>(holder.size()));

    RunResult r = run_pdpcell("--max-steps 1 </dev/null");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("ERROR: another pdpcell run (process " + std::to_string(getpid()) +
                            ") is running in this folder"),
              std::string::npos)
        << r.output;
    // Nothing written, and the holder's lock file left as it was.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 3);
    EXPECT_EQ(TempFolder::read(run_folder_lock::LOCK_FILE), holder);

    // A lock file whose holder has gone (as a killed run leaves it) holds
    // nothing; a run that ends removes it.
    close(fd);
    r = run_pdpcell("--max-steps 1 </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(std::filesystem::exists("general.txt"));
    EXPECT_FALSE(std::filesystem::exists(run_folder_lock::LOCK_FILE));
}
