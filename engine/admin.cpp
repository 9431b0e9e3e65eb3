#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "c_boundary.h"
#include "kvprtobj/zorbce.h"

long BceIsUserAdmin(unsigned long value) {
    return kvpo::cBoundary(0, [&]() -> long {
        uid_t uid = static_cast<uid_t>(value);
        if (uid == 0) return 1;

        std::vector<char> buf(16384);
        passwd pw{};
        passwd* pwResult = nullptr;
        if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &pwResult) != 0 || pwResult == nullptr) return 0;

        std::vector<char> gbuf(16384);
        group gr{};
        group* grResult = nullptr;
        if (::getgrnam_r("lpadmin", &gr, gbuf.data(), gbuf.size(), &grResult) != 0 || grResult == nullptr) return 0;
        if (pw.pw_gid == gr.gr_gid) return 1;

        int count = 64;
        std::vector<gid_t> groups(static_cast<size_t>(count));
        if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<size_t>(count));
            if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) return 0;
        }
        for (int i = 0; i < count; ++i)
            if (groups[static_cast<size_t>(i)] == gr.gr_gid) return 1;
        return 0;
    });
}
