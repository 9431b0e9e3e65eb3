#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>

#include "kvprtobj/kvprtobj.h"

TEST(EngineAdmin, AdministratorsAreRootAndLpadminMembers) {
    KVPrtObj printer;
    EXPECT_NE(BceIsUserAdmin(0), 0);
    EXPECT_EQ(printer.getNetAccessLevel(0), KVPrtObj::KVNET_ADMINISTRATOR);
    passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    group* lpadmin = getgrnam("lpadmin");
    bool member = false;
    if (lpadmin)
        for (char** m = lpadmin->gr_mem; *m; ++m) member |= std::string(*m) == "nobody";
    EXPECT_EQ(BceIsUserAdmin(nobody->pw_uid) != 0, member);
    EXPECT_EQ(BceIsUserAdmin(4000000000ul), 0);   // no such user
}
