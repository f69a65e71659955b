#include "TempStore.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Registry, WritesAndReadsBack)
{
    TempStore store;
    Registry reg;
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\Software\\Test"), true));
    reg.WriteString(QStringLiteral("name"), QStringLiteral("a\r\nb"));
    EXPECT_EQ(reg.ReadString(QStringLiteral("NAME")), QStringLiteral("a\r\nb"));
}
