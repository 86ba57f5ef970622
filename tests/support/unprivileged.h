// Part of a test run with an ordinary user's permissions.
//
// Root reads and writes every file whatever its mode, so a test of what
// happens without permission shows nothing when the tests run as root (as
// they do in CI). As root, an Unprivileged scope gives the whole process the
// user and group ids of nobody (65534) and no supplementary groups, keeping
// root only as the saved user id so that the end of the scope can take it
// back. The directories named at the start are handed to nobody first, so
// that what the scope creates in them is nobody's own, as an ordinary user's
// files are his. Programs started within the scope run entirely as nobody.
// For anyone else the scope changes nothing: they have an ordinary user's
// permissions already.
//
// Use it in single-threaded parts of a test only; the ids change for every
// thread of the process.

#pragma once

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace mbus::testsupport {

class Unprivileged {
public:
    static constexpr uid_t kNobody = 65534;

    explicit Unprivileged(std::initializer_list<std::string> ownDirectories = {}) {
        if (::geteuid() != 0) return;
        for (const std::string& directory : ownDirectories) {
            if (::chown(directory.c_str(), kNobody, kNobody) != 0) {
                Fail("cannot hand " + directory + " to user " + std::to_string(kNobody));
                return;
            }
        }
        ::getresuid(&uid_[0], &uid_[1], &uid_[2]);
        ::getresgid(&gid_[0], &gid_[1], &gid_[2]);
        const int count = ::getgroups(0, nullptr);
        groups_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        if (count < 0 || ::getgroups(count, groups_.data()) != count) {
            Fail("cannot read the supplementary groups");
            return;
        }
        if (::setgroups(0, nullptr) != 0) {
            Fail("cannot leave the supplementary groups");
            return;
        }
        if (::setresgid(kNobody, kNobody, static_cast<gid_t>(-1)) != 0) {
            Fail("cannot take group id " + std::to_string(kNobody));
            Restore();
            return;
        }
        if (::setresuid(kNobody, kNobody, static_cast<uid_t>(-1)) != 0) {
            Fail("cannot take user id " + std::to_string(kNobody));
            Restore();
            return;
        }
        lowered_ = true;
    }
    ~Unprivileged() {
        if (lowered_) Restore();
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

    // False when root could not give up its permissions (a container without
    // the capability to change ids, or one where 65534 is not mapped); the
    // test cannot show a denial then, and Problem() says why.
    bool Ok() const { return problem_.empty(); }
    const std::string& Problem() const { return problem_; }

private:
    void Fail(const std::string& what) { problem_ = what + ": " + std::strerror(errno); }

    // Back to the ids as they were: the saved user id (root) allows it; then
    // the groups. Changing ids made the process undumpable, which is undone
    // as well.
    void Restore() {
        [[maybe_unused]] const int u = ::setresuid(uid_[0], uid_[1], uid_[2]);
        [[maybe_unused]] const int g = ::setresgid(gid_[0], gid_[1], gid_[2]);
        [[maybe_unused]] const int s = ::setgroups(groups_.size(), groups_.data());
        ::prctl(PR_SET_DUMPABLE, 1);
        lowered_ = false;
    }

    uid_t uid_[3] = {0, 0, 0};  // real, effective, saved
    gid_t gid_[3] = {0, 0, 0};
    std::vector<gid_t> groups_;
    bool lowered_ = false;
    std::string problem_;
};

}  // namespace mbus::testsupport
