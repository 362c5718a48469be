// The main of every test executable: COM is initialised once for the main thread, and the log of the
// linked libraries is opened, as DllMain would.

#include "base/log.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace
{
class com_environment : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};
} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    open_log();
    ::testing::AddGlobalTestEnvironment(new com_environment);
    return RUN_ALL_TESTS();
}
