#pragma once
// Network namespaces made by a test and removed again: one per station
// (named by a letter), each with one veth link "eth0" to a bridge in a hub
// namespace. Stations get link-local addresses 169.254.1.<n>/16 and a route
// for the administratively scoped groups 239.255.0.0/16 only: no default
// route, nothing reaches a real network. Needs root; where namespaces
// cannot be made, IsUp() is false and Why() says so.
//
// CNamespaceScope moves the calling thread into a station's namespace:
// sockets made there (and threads started there) stay in it.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class CTestNetwork {
public:
    explicit CTestNetwork(const std::string& stations) : m_stations(stations) {
        m_prefix = "vmc" + std::to_string(::getpid());
        Remove();
        if (!Sh("ip netns add " + Hub())) {
            m_why = "cannot make network namespaces here (needs root and iproute2)";
            return;
        }
        bool ok = Sh("ip -n " + Hub() + " link add br0 type bridge mcast_snooping 0") &&
                  Sh("ip -n " + Hub() + " link set br0 up");
        for (size_t i = 0; ok && i < m_stations.size(); ++i) {
            const char s = m_stations[i];
            const std::string ns = Name(s);
            const std::string hubEnd = std::string("v") + s;
            ok = Sh("ip netns add " + ns) &&
                 Sh("ip link add eth0 netns " + ns + " type veth peer name " + hubEnd + " netns " + Hub()) &&
                 Sh("ip -n " + Hub() + " link set " + hubEnd + " master br0 up") &&
                 Sh("ip -n " + ns + " link set lo up") && Sh("ip -n " + ns + " link set eth0 up") &&
                 Sh("ip -n " + ns + " addr add " + AddressText(s) + "/16 dev eth0") &&
                 Sh("ip -n " + ns + " route add 239.255.0.0/16 dev eth0");
        }
        if (!ok) {
            m_why = "could not set up the test namespaces";
            Remove();
            return;
        }
        m_up = true;
    }
    ~CTestNetwork() { Remove(); }
    CTestNetwork(const CTestNetwork&) = delete;
    CTestNetwork& operator=(const CTestNetwork&) = delete;

    bool IsUp() const { return m_up; }
    const std::string& Why() const { return m_why; }
    std::string Name(char station) const { return m_prefix + station; }
    std::string AddressText(char station) const {
        return "169.254.1." + std::to_string(m_stations.find(station) + 1);
    }
    uint32_t Address(char station) const {
        return 0xA9FE0100u + static_cast<uint32_t>(m_stations.find(station) + 1);
    }
    // A link taken down loses its routes; taken up again it gets the group route back.
    bool SetLink(char station, bool up) const {
        if (!Sh("ip -n " + Name(station) + " link set eth0 " + (up ? "up" : "down"))) return false;
        return !up || Sh("ip -n " + Name(station) + " route replace 239.255.0.0/16 dev eth0");
    }
    // The groups the station's link has joined, as `ip maddr` lists them.
    std::string Memberships(char station) const { return Output("ip -n " + Name(station) + " maddr show dev eth0"); }

    static std::string Output(const std::string& command) {
        std::string out;
        if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
            char buf[512];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }

private:
    std::string Hub() const { return m_prefix + "hub"; }
    static bool Sh(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()) == 0; }
    void Remove() {
        for (char s : m_stations) Sh("ip netns del " + Name(s));
        Sh("ip netns del " + Hub());
        m_up = false;
    }

    std::string m_stations;
    std::string m_prefix;
    std::string m_why;
    bool m_up = false;
};

class CNamespaceScope {
public:
    CNamespaceScope(const CTestNetwork& net, char station) {
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int fd = ::open(("/var/run/netns/" + net.Name(station)).c_str(), O_RDONLY | O_CLOEXEC);
        m_in = m_home >= 0 && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
    }
    ~CNamespaceScope() {
        if (m_in) (void)::setns(m_home, CLONE_NEWNET);
        if (m_home >= 0) ::close(m_home);
    }
    CNamespaceScope(const CNamespaceScope&) = delete;
    CNamespaceScope& operator=(const CNamespaceScope&) = delete;
    bool IsIn() const { return m_in; }

private:
    int m_home = -1;
    bool m_in = false;
};
