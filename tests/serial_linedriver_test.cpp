// One holder of the port's answers at a time; the refusal names its activity.
#include "serial/LineDriver.h"

#include <gtest/gtest.h>

TEST(LineClaim, OneHolderAtATimeAndTheRefusalNamesIt) {
    int reader = 0, other = 0;
    {
        ScopedLineClaim claim(&reader, "чтение суточного архива");
        ASSERT_TRUE(claim.Held());
        EXPECT_FALSE(LineHeldByOther(&reader));
        EXPECT_TRUE(LineHeldByOther(&other));
        EXPECT_FALSE(ClaimLine(&other, "поиск приборов"));
        EXPECT_EQ(LineBusyText(),
                  "Линия занята: идёт чтение суточного архива. Дождитесь конца или остановите его.");
        ReleaseLine(&other); // not the holder: nothing changes
        EXPECT_TRUE(LineHeldByOther(&other));
        EXPECT_TRUE(ClaimLine(&reader, "чтение часового архива")); // the holder may rename its run
        EXPECT_EQ(LineHolderActivity(), "чтение часового архива");
    }
    EXPECT_FALSE(LineHeldByOther(&other));
    EXPECT_TRUE(LineHolderActivity().empty());
    ScopedLineClaim second(&other, "поиск приборов");
    EXPECT_TRUE(second.Held());
}
