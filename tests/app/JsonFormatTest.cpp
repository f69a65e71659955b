#include "app/JsonFormat.h"

#include <gtest/gtest.h>

TEST(FormatJsonResult, NonJsonUnchanged)
{
    EXPECT_EQ(FormatJsonResult(QStringLiteral("hello")), QStringLiteral("hello"));
}
