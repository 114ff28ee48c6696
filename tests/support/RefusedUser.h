// Makes the permission bits of a tree stop this process as they stop an ordinary user. Root
// passes every permission check, so as root the process hands the tree to "nobody" and takes
// that identity (all its threads) for the object's lifetime; as anyone else nothing changes.
#pragma once

#include <ftw.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>

class RefusedUser
{
public:
    static constexpr uid_t kNobody = 65534;

    explicit RefusedUser(const std::string &tree)
    {
        if (::geteuid() != 0)
            return;
        ::nftw(tree.c_str(), [](const char *path, const struct stat *, int, struct FTW *) {
            return ::lchown(path, kNobody, kNobody) == 0 ? 0 : 1;
        }, 16, FTW_PHYS);
        m_switched = ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
        m_failed = !m_switched;
    }
    ~RefusedUser()
    {
        if (m_switched || m_failed) {
            [[maybe_unused]] const int a = ::seteuid(0);
            [[maybe_unused]] const int b = ::setegid(0);
        }
    }
    RefusedUser(const RefusedUser &) = delete;
    RefusedUser &operator=(const RefusedUser &) = delete;

    // False when root could not take another identity: the test cannot be refused.
    bool ready() const { return !m_failed; }

private:
    bool m_switched = false;
    bool m_failed = false;
};
