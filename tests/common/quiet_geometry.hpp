#pragma once
// The built-in cell for tests that need its maps and bounds: the geometry
// set-up wants an "input_file.txt" in the working folder (a TempFolder) and
// echoes to the console, which these tests do not look at.
#include "common/temp_folder.hpp"
#include "input/cell_geometry.hpp"

#include <gtest/gtest.h>

inline void build_geometry_quietly() {
    TempFolder::write("input_file.txt", "");
    testing::internal::CaptureStdout();
    geometry::build_geometry();
    testing::internal::GetCapturedStdout();
}
