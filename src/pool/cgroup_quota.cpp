// src/pool/cgroup_quota.cpp: the CPU quota a control group (v1 or v2) puts
// on this process, so a container limited to one CPU does not get a worker
// per host processor.
#include "pool/sizing.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace talvora {
namespace {

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return std::nullopt;
    return std::move(text).str();
}

std::string_view first_line(std::string_view text) {
    return text.substr(0, text.find('\n'));
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool contains(const std::vector<std::string_view>& list, std::string_view item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// top + group path, without a trailing '/', so that walking up ends at top.
std::string group_dir(std::string_view top, std::string_view group) {
    std::string dir(top);
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    while (!group.empty() && group.front() == '/')
        group.remove_prefix(1);
    while (!group.empty() && group.back() == '/')
        group.remove_suffix(1);
    if (!group.empty()) dir.append("/").append(group);
    return dir;
}

// Calls visit for dir and each parent of it, up to and including top.
template <class Visit> void walk_up(std::string dir, std::string_view top, Visit visit) {
    for (;;) {
        visit(dir);
        if (dir.size() <= top.size()) return;
        const std::size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash < top.size()) return;
        dir.resize(slash);
    }
}

void lower_to(std::optional<std::uint64_t>& quota, std::uint64_t limit, std::uint64_t period) {
    if (period == 0) return;
    quota = std::min(quota.value_or(UINT64_MAX), limit / period);
}

// Version 2: "cpu.max" holds "<limit> <period>", or "max <period>" for none.
std::optional<std::uint64_t> v2_quota(const SizingInputs& in, std::string_view group) {
    const std::string top = group_dir(in.sys_fs_cgroup, "");
    const std::string dir = group_dir(top, group);
    if (!exists(dir + "/cgroup.controllers")) return std::nullopt;
    std::optional<std::uint64_t> quota;
    walk_up(dir, top, [&](const std::string& d) {
        const std::optional<std::string> text = read_file(d + "/cpu.max");
        if (!text) return;
        const std::string_view line = first_line(*text);
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) return;
        const auto limit = parse_valid_count(line.substr(0, blank));
        const auto period = parse_valid_count(line.substr(blank + 1));
        if (limit && period) lower_to(quota, *limit, *period);
    });
    return quota;
}

// The mount point of the v1 cpu controller and the group directory below it.
struct V1Mount {
    std::string mount_point;
    std::string dir;
};

std::optional<V1Mount> v1_from_mountinfo(const SizingInputs& in, std::string_view group) {
    const std::optional<std::string> mountinfo = read_file(in.proc_self_mountinfo);
    if (!mountinfo) return std::nullopt;
    for (const std::string_view line : split(*mountinfo, '\n')) {
        // "<id> <parent> <dev> <root> <mount point> <options> [<tags>...] - <type> <source> <super
        // options>"
        const std::vector<std::string_view> fields = split(line, ' ');
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (dash - fields.begin() < 5 || fields.end() - dash < 4) continue;
        if (dash[1] != "cgroup" || !contains(split(dash[3], ','), "cpu")) continue;
        const std::string_view root = fields[3];
        const std::string_view mount_point = fields[4];
        // The group path is seen from the host; the mount shows the tree from
        // its root on, so the part of the group below that root is wanted.
        std::string_view below = group;
        if (root != "/" && group.starts_with(root) &&
            (group.size() == root.size() || group[root.size()] == '/'))
            below.remove_prefix(root.size());
        return V1Mount{std::string(mount_point), group_dir(mount_point, below)};
    }
    return std::nullopt;
}

// Version 1: "cpu.cfs_quota_us" over "cpu.cfs_period_us"; a quota of -1 is none.
std::optional<std::uint64_t> v1_quota(const SizingInputs& in, std::string_view group) {
    std::optional<V1Mount> mount;
    for (const char* name : {"cpu", "cpu,cpuacct"}) {
        const std::string mount_point = group_dir(in.sys_fs_cgroup, name);
        std::string dir = group_dir(mount_point, group);
        if (exists(dir)) {
            mount = V1Mount{mount_point, std::move(dir)};
            break;
        }
    }
    if (!mount) {
        mount = v1_from_mountinfo(in, group);
        if (!mount || !exists(mount->dir)) return std::nullopt;
    }
    std::optional<std::uint64_t> quota;
    walk_up(mount->dir, mount->mount_point, [&](const std::string& d) {
        const std::optional<std::string> quota_us = read_file(d + "/cpu.cfs_quota_us");
        const std::optional<std::string> period_us = read_file(d + "/cpu.cfs_period_us");
        if (!quota_us || !period_us) return;
        const auto limit = parse_valid_count(trim(*quota_us));
        const auto period = parse_valid_count(trim(*period_us));
        if (limit && period) lower_to(quota, *limit, *period);
    });
    return quota;
}

} // namespace

std::optional<std::uint64_t> cgroup_cpu_quota(const SizingInputs& inputs) {
    const std::optional<std::string> cgroup = read_file(inputs.proc_self_cgroup);
    if (!cgroup) return std::nullopt;
    // Lines read "<hierarchy>:<controllers>:<path>": no controllers means the
    // unified (v2) hierarchy; a v1 "cpu" controller wins over it.
    std::optional<std::string> v1_group, v2_group;
    for (const std::string_view line : split(*cgroup, '\n')) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (controllers.empty()) {
            if (!v2_group) v2_group = std::string(path);
        } else if (!v1_group && contains(split(controllers, ','), "cpu")) {
            v1_group = std::string(path);
        }
    }
    std::optional<std::uint64_t> quota;
    if (v1_group)
        quota = v1_quota(inputs, *v1_group);
    else if (v2_group)
        quota = v2_quota(inputs, *v2_group);
    if (quota) quota = std::max<std::uint64_t>(*quota, 1);
    return quota;
}

} // namespace talvora
