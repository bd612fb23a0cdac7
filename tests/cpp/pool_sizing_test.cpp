// tests/cpp/pool_sizing_test.cpp: the worker count from the environment,
// control groups (fake trees in a temporary directory) and affinity.
#include "pool/sizing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace talvora {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t AFFINITY = 8;

// Sizing inputs over a fake environment and a fake /proc and /sys tree.
class FakeSystem {
  public:
    FakeSystem() {
        char pattern[] = "/tmp/talvora-sizing-XXXXXX";
        root_ = mkdtemp(pattern);
        inputs_.environment = [this](const char* name) -> std::optional<std::string> {
            const auto found = env_.find(name);
            if (found == env_.end()) return std::nullopt;
            return found->second;
        };
        inputs_.proc_self_cgroup = root_ / "proc/self/cgroup";
        inputs_.proc_self_mountinfo = root_ / "proc/self/mountinfo";
        inputs_.sys_fs_cgroup = root_ / "sys/fs/cgroup";
        inputs_.affinity_count = [this] { return affinity_; };
        inputs_.online_processors = [this] { return online_; };
    }
    ~FakeSystem() { fs::remove_all(root_); }

    void set_env(const char* name, std::string value) { env_[name] = std::move(value); }
    // Writes text to a path below the fake root, making its directories.
    void write(const std::string& path, const std::string& text) {
        const fs::path file = root_ / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    void make_dir(const std::string& path) { fs::create_directories(root_ / path); }

    const fs::path& root() const { return root_; }
    std::size_t worker_count() const { return determine_worker_count(inputs_); }
    std::optional<std::uint64_t> quota() const { return cgroup_cpu_quota(inputs_); }

    std::optional<std::size_t> affinity_ = AFFINITY;
    long online_ = 16;

  private:
    fs::path root_;
    std::map<std::string, std::string> env_;
    SizingInputs inputs_;
};

TEST(ValidCount, Grammar) {
    EXPECT_EQ(parse_valid_count("4"), 4u);
    EXPECT_EQ(parse_valid_count("+4"), 4u);
    EXPECT_EQ(parse_valid_count("007"), 7u);
    EXPECT_EQ(parse_valid_count("18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"", "+", "-1", " 4", "4 ", "4x", "++4", "0x10", "18446744073709551616",
                            "99999999999999999999", "\xd9\xa3", "\xff"})
        EXPECT_EQ(parse_valid_count(bad), std::nullopt) << '"' << bad << '"';
}

struct EnvCase {
    const char* num_threads; // nullptr: unset
    const char* rs_num_cpus;
    std::size_t expected;
};

class EnvSizing : public testing::TestWithParam<EnvCase> {};

TEST_P(EnvSizing, WorkerCount) {
    FakeSystem system;
    if (GetParam().num_threads) system.set_env("RAYON_NUM_THREADS", GetParam().num_threads);
    if (GetParam().rs_num_cpus) system.set_env("RAYON_RS_NUM_CPUS", GetParam().rs_num_cpus);
    EXPECT_EQ(system.worker_count(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, EnvSizing,
    testing::Values(EnvCase{"4", nullptr, 4}, EnvCase{"+4", nullptr, 4}, EnvCase{"4", "3", 4},
                    // 0 asks for the available parallelism, even past a valid RS count.
                    EnvCase{"0", nullptr, AFFINITY}, EnvCase{"0", "3", AFFINITY},
                    // Invalid values fall through to RAYON_RS_NUM_CPUS, then further.
                    EnvCase{"", "3", 3}, EnvCase{"-1", "3", 3}, EnvCase{" 4", "3", 3},
                    EnvCase{"4x", "3", 3}, EnvCase{"18446744073709551616", "3", 3},
                    EnvCase{"", nullptr, AFFINITY}, EnvCase{"4x", nullptr, AFFINITY},
                    EnvCase{"\xff", nullptr, AFFINITY},
                    // Capped.
                    EnvCase{"100000", nullptr, 65'535},
                    EnvCase{"18446744073709551615", nullptr, 65'535},
                    EnvCase{nullptr, "100000", 65'535},
                    // RAYON_RS_NUM_CPUS alone.
                    EnvCase{nullptr, "3", 3}, EnvCase{nullptr, "0", AFFINITY},
                    EnvCase{nullptr, "x", AFFINITY}, EnvCase{nullptr, nullptr, AFFINITY}));

TEST(AvailableParallelism, AffinityThenOnlineProcessors) {
    FakeSystem system;
    system.affinity_ = 2;
    system.online_ = 8;
    EXPECT_EQ(system.worker_count(), 2u);
    system.affinity_ = std::nullopt; // sched_getaffinity failed or the mask was empty
    EXPECT_EQ(system.worker_count(), 8u);
    for (const long unknown : {-1L, 0L}) {
        system.online_ = unknown;
        EXPECT_EQ(system.worker_count(), 1u) << unknown;
    }
}

struct V2Case {
    const char* cpu_max;
    std::optional<std::uint64_t> quota;
};

class CgroupV2 : public testing::TestWithParam<V2Case> {};

TEST_P(CgroupV2, CpuMax) {
    FakeSystem system;
    system.write("proc/self/cgroup", "0::/box\n");
    system.write("sys/fs/cgroup/box/cgroup.controllers", "cpu memory\n");
    system.write("sys/fs/cgroup/box/cpu.max", GetParam().cpu_max);
    EXPECT_EQ(system.quota(), GetParam().quota);
    EXPECT_EQ(system.worker_count(),
              std::min<std::uint64_t>(AFFINITY, GetParam().quota.value_or(AFFINITY)));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, CgroupV2,
    testing::Values(V2Case{"max 100000\n", std::nullopt}, V2Case{"150000 100000\n", 1},
                    V2Case{"50000 100000\n", 1}, // 0 is raised to 1
                    V2Case{"400000 100000\n", 4}, V2Case{"400000 0\n", std::nullopt},
                    V2Case{"400000  100000\n", std::nullopt}, V2Case{"400000\n", std::nullopt},
                    V2Case{"", std::nullopt}));

TEST(CgroupV2Tree, ParentsLimitTooAndControllersFileIsRequired) {
    FakeSystem system;
    system.write("proc/self/cgroup", "0::/a/b/c\n");
    system.write("sys/fs/cgroup/a/b/c/cgroup.controllers", "");
    system.write("sys/fs/cgroup/a/b/c/cpu.max", "max 100000\n");
    system.write("sys/fs/cgroup/a/b/cpu.max", "300000 100000\n");
    system.write("sys/fs/cgroup/a/cpu.max", "500000 100000\n");
    EXPECT_EQ(system.quota(), 3u);
    EXPECT_EQ(system.worker_count(), 3u);
    fs::remove(system.root() / "sys/fs/cgroup/a/b/c/cgroup.controllers");
    EXPECT_EQ(system.quota(), std::nullopt);
}

TEST(CgroupV1, CfsFilesWinOverV2) {
    FakeSystem system;
    system.write("proc/self/cgroup", "0::/ignored\n5:cpuacct,cpu:/grp\n3:memory:/grp\n");
    system.write("sys/fs/cgroup/ignored/cgroup.controllers", "");
    system.write("sys/fs/cgroup/ignored/cpu.max", "100000 100000\n");
    system.write("sys/fs/cgroup/cpu/grp/cpu.cfs_quota_us", "300000\n");
    system.write("sys/fs/cgroup/cpu/grp/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(system.quota(), 3u);
    EXPECT_EQ(system.worker_count(), 3u);
    // -1 is no limit; then a parent up to the mount point can still set one.
    system.write("sys/fs/cgroup/cpu/grp/cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(system.quota(), std::nullopt);
    system.write("sys/fs/cgroup/cpu/cpu.cfs_quota_us", "200000\n");
    system.write("sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(system.quota(), 2u);
}

TEST(CgroupV1, CombinedCpuCpuacctDirectory) {
    FakeSystem system;
    system.write("proc/self/cgroup", "2:cpu,cpuacct:/grp/sub\n");
    system.write("sys/fs/cgroup/cpu,cpuacct/grp/sub/cpu.cfs_quota_us", "50000");
    system.write("sys/fs/cgroup/cpu,cpuacct/grp/sub/cpu.cfs_period_us", "100000");
    EXPECT_EQ(system.quota(), 1u);
}

TEST(CgroupV1, MountPointFromMountinfo) {
    FakeSystem system;
    // The group as the host names it; the container sees that group mounted
    // as the root of its own cpu hierarchy somewhere else.
    system.write("proc/self/cgroup", "4:cpu:/docker/abc\n");
    const std::string mount = (system.root() / "elsewhere/cpu").string();
    system.write("proc/self/mountinfo", "25 1 0:22 / / rw - ext4 /dev/root rw\n"
                                        "30 25 0:26 /docker/abc " +
                                            mount + " rw,nosuid shared:9 - cgroup cgroup rw,cpu\n");
    system.write("elsewhere/cpu/cpu.cfs_quota_us", "600000\n");
    system.write("elsewhere/cpu/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(system.quota(), 6u);
    EXPECT_EQ(system.worker_count(), 6u);
}

TEST(Cgroup, UnreadableOrAbsentFilesSetNoLimit) {
    FakeSystem system;
    EXPECT_EQ(system.quota(), std::nullopt); // no /proc/self/cgroup
    system.write("proc/self/cgroup", "4:cpu:/gone\n0::/gone\n");
    EXPECT_EQ(system.quota(), std::nullopt);
    system.make_dir("sys/fs/cgroup/cpu/gone"); // the directory, but no cfs files
    EXPECT_EQ(system.quota(), std::nullopt);
    EXPECT_EQ(system.worker_count(), AFFINITY);
}

} // namespace
} // namespace talvora
