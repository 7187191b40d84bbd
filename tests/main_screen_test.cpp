#include "program.h"

TEST(MainScreen, Smoke) {
    TProgram p(OneDrive(1000));
    EXPECT_EQ(p.H.Row(0).substr(0, 24), " Quilvex Platenhawk v0.6") << p.H.Dump();
}
