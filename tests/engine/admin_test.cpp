#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>

#include "kvprtobj/kvprtobj.h"

TEST(EngineAdmin, RootIsAdministrator) {
    EXPECT_NE(BceIsUserAdmin(0), 0);
    KVPrtObj printer;
    EXPECT_EQ(printer.getNetAccessLevel(0), KVPrtObj::KVNET_ADMINISTRATOR);
}

TEST(EngineAdmin, OrdinaryUsersAreNotUnlessInLpadmin) {
    passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    group* lpadmin = getgrnam("lpadmin");
    bool member = false;
    if (lpadmin)
        for (char** m = lpadmin->gr_mem; *m; ++m) member |= std::string(*m) == "nobody";
    EXPECT_EQ(BceIsUserAdmin(nobody->pw_uid) != 0, member);
    EXPECT_EQ(BceIsUserAdmin(4000000000ul), 0);   // no such user
    KVPrtObj printer;
    for (unsigned v : {0u, 1u, 65534u, 4000000000u}) {
        auto level = printer.getNetAccessLevel(v);
        EXPECT_TRUE(level == KVPrtObj::KVNET_USER || level == KVPrtObj::KVNET_ADMINISTRATOR);
    }
}
