// The main of the test programs on Windows: COM for the main thread, started as the programs'
// own entries start it, around every test, as the code under test expects it there.
#include <gtest/gtest.h>

#include "platform/program_com.h"

int main(int argc, char** argv) {
    const platform::TProgramCom com;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
