#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Moves the process into a network namespace of its own with only the loopback device,
// brought up, so capture tests see only the traffic they make themselves.
bool enterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET)");
        return false;
    }
    const int control = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (control < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    ::close(control);
    return up;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Without root the capture tests skip themselves; listing tests needs no namespace.
    if (::geteuid() == 0 && !testing::GTEST_FLAG(list_tests) && !enterPrivateNetwork()) {
        std::fprintf(stderr, "could not enter a private network namespace\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
