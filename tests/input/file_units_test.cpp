#include "input/file_units.hpp"

#include "common/fatal_error.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using namespace FILE_MANAGER;

namespace {

struct FileUnits : ::testing::Test {
    TempFolder folder;
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
};

// Runs f, expecting a fatal error; returns what it printed.
template <class F>
std::string fatal_output(F f) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(f(), pdp::FatalError);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST_F(FileUnits, SameNameAndAccessReturnsTheOpenUnitWithoutReopening) {
    const int u = OPENFILE("out.txt", "WRITE");
    EXPECT_EQ(u, FIRST_UNIT);
    std::fputs("first\n", stream(u));
    EXPECT_EQ(OPENFILE("out.txt   ", "WRITE"), u);  // trailing blanks do not matter
    std::fputs("second\n", stream(u));
    CLOSEFILE("out.txt");
    EXPECT_EQ(TempFolder::read("out.txt"), "first\nsecond\n");
    EXPECT_FALSE(is_connected(u));
}

TEST_F(FileUnits, OtherAccessClosesTheOldUnitAndTakesTheLowestFreeOne) {
    TempFolder::write("a.txt", "x\n");
    const int a = OPENFILE("first.txt", "WRITE");
    const int b = OPENFILE("a.txt", "WRITE");
    EXPECT_EQ(b, a + 1);
    CLOSEFILE("first.txt");
    const int again = OPENFILE("a.txt", "READ");
    EXPECT_EQ(again, a);  // the lowest free unit, not its old one
    EXPECT_FALSE(is_connected(b));
    EXPECT_EQ(highest_unit(), b);
}

TEST_F(FileUnits, RecordOfAUnitClosedElsewhereIsBlankedOnTheNextPass) {
    const int u = OPENFILE("x.txt", "WRITE");
    close_unit(u);
    EXPECT_EQ(recorded_name(u), "x.txt");
    const int v = OPENFILE("y.txt", "WRITE");
    EXPECT_EQ(v, u);
    EXPECT_EQ(recorded_name(u), "y.txt");
    // GETUNIT blanks a stale record too, and then reports the file as not open.
    close_unit(v);
    const std::string out = fatal_output([] { GETUNIT("y.txt"); });
    EXPECT_EQ(out, "ERROR: error in FILE_MANAGER::GETUNIT\n       file y.txt is not opened\n");
    EXPECT_EQ(recorded_name(v), "");
}

TEST_F(FileUnits, ThirtySecondFileFails) {
    for (int n = 0; n < 31; ++n) OPENFILE("f" + std::to_string(n), "WRITE");
    EXPECT_EQ(highest_unit(), LAST_UNIT);
    EXPECT_EQ(fatal_output([] { OPENFILE("f31", "WRITE"); }),
              "ERROR: not enough free file units available in FILE_MANAGER\n");
}

TEST_F(FileUnits, MessagesForBadArguments) {
    EXPECT_EQ(fatal_output([] { OPENFILE("   ", "READ"); }),
              "ERROR: file name in FILE_MANAGER::OPENFILE is empty\n");
    EXPECT_EQ(fatal_output([] { OPENFILE("a.txt", "read"); }),
              "ERROR: incorrect access type parameter in FILE_MANAGER::OPENFILE\n"
              "       Must be 'WRITE' or 'READ'\n");
    EXPECT_EQ(fatal_output([] { OPENFILE("missing.txt", "READ"); }),
              "ERROR: Can't open file: missing.txt\n");
    EXPECT_EQ(fatal_output([] { CLOSEFILE("never.txt"); }),
              "ERROR: error in FILE_MANAGER::GETUNIT\n       file never.txt is not opened\n");
}

TEST_F(FileUnits, CloseAllClosesEveryManagedFileAndClearsTheTable) {
    const int a = OPENFILE("a.txt", "WRITE");
    const int b = OPENFILE("b.txt", "WRITE");
    CLOSEALL();
    EXPECT_FALSE(is_connected(a));
    EXPECT_FALSE(is_connected(b));
    EXPECT_EQ(recorded_name(a), "");
    EXPECT_EQ(OPENFILE("c.txt", "WRITE"), a);
}

// A file continued after a restart: opened at its end, and then found by the
// usual OPENFILE(name, "WRITE") of its writer instead of being replaced.
TEST_F(FileUnits, AFileOpenedAtItsEndIsContinuedByItsWriter) {
    TempFolder::write("out.txt", "kept\n");
    const int u = OPENFILE_AT_END("out.txt");
    EXPECT_EQ(OPENFILE("out.txt", "WRITE"), u);
    std::fputs("more\n", stream(OPENFILE("out.txt", "WRITE")));
    CLOSEALL();
    EXPECT_EQ(TempFolder::read("out.txt"), "kept\nmore\n");
    OPENFILE_AT_END("new.txt");  // created when absent
    CLOSEFILE("new.txt");
    EXPECT_EQ(TempFolder::read("new.txt"), "");
}

// What a written file lost is found when it is closed, by name or all at once.
TEST_F(FileUnits, ClosingAWrittenFileThatLostOutputStopsTheRun) {
    std::filesystem::create_symlink("/dev/full", "full.txt");
    for (const bool all : {false, true}) {
        std::fputs("lost\n", stream(OPENFILE("full.txt", "WRITE")));
        // (The capture of the console flushes every stream first, which takes
        // the reason with it; the program gives "No space left on device".)
        EXPECT_EQ(fatal_output([all] { all ? CLOSEALL() : CLOSEFILE("full.txt"); }).rfind(
                      "ERROR: writing file full.txt failed: ", 0),
                  0u);
        EXPECT_FALSE(is_connected(FIRST_UNIT));
        reset();
    }
}
