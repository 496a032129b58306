#include "bridge/cpu_count.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace velmo::bridge {
namespace {

namespace fs = std::filesystem;

struct Hierarchy {
  std::string group;       // the process's group, from /proc/self/cgroup
  std::string mount_root;  // the part of the hierarchy that is mounted
  std::string mount_point;
  bool found_group = false;
  bool found_mount = false;
};

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find(sep, start);
    parts.push_back(s.substr(start, end - start));
    if (end == std::string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

bool Contains(const std::vector<std::string_view>& list, std::string_view v) {
  return std::find(list.begin(), list.end(), v) != list.end();
}

std::optional<int64_t> ParseInt(std::string_view s) {
  int64_t v;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) {
    return std::nullopt;
  }
  return v;
}

std::optional<std::string> ReadFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) {
    return std::nullopt;
  }
  return line;
}

std::optional<size_t> QuotaOverPeriod(std::optional<int64_t> quota,
                                      std::optional<int64_t> period) {
  if (!quota || !period || *quota <= 0 || *period <= 0) {
    return std::nullopt;  // "max", -1 or unreadable: no quota
  }
  return static_cast<size_t>((*quota + *period - 1) / *period);
}

std::optional<size_t> V2Limit(const fs::path& dir) {
  auto line = ReadFirstLine(dir / "cpu.max");
  if (!line) {
    return std::nullopt;
  }
  auto fields = Split(*line, ' ');
  if (fields.size() != 2) {
    return std::nullopt;
  }
  return QuotaOverPeriod(ParseInt(fields[0]), ParseInt(fields[1]));
}

std::optional<size_t> V1Limit(const fs::path& dir) {
  auto quota = ReadFirstLine(dir / "cpu.cfs_quota_us");
  auto period = ReadFirstLine(dir / "cpu.cfs_period_us");
  if (!quota || !period) {
    return std::nullopt;
  }
  return QuotaOverPeriod(ParseInt(*quota), ParseInt(*period));
}

// The smallest limit of the group and every group above it in the mount.
template <class ReadLimit>
std::optional<size_t> SmallestLimit(const fs::path& root, const Hierarchy& h,
                                    ReadLimit read_limit) {
  if (!h.found_group || !h.found_mount) {
    return std::nullopt;
  }
  std::string_view group = h.group;
  if (h.mount_root != "/") {
    if (group.substr(0, h.mount_root.size()) != h.mount_root) {
      group = "/";  // the group lies outside what is mounted here
    } else {
      group.remove_prefix(h.mount_root.size());
    }
  }
  fs::path top = root / fs::path(h.mount_point).relative_path();
  fs::path below = fs::path(group).relative_path();
  fs::path dir = below.empty() ? top : top / below;
  std::optional<size_t> smallest;
  for (;;) {
    auto limit = read_limit(dir);
    if (limit && (!smallest || *limit < *smallest)) {
      smallest = limit;
    }
    if (dir == top || !dir.has_relative_path() || dir == dir.parent_path()) {
      return smallest;
    }
    dir = dir.parent_path();
  }
}

}  // namespace

std::optional<size_t> CgroupCpuLimit(const std::string& root_text) {
  fs::path root(root_text);
  Hierarchy v1;
  Hierarchy v2;

  std::ifstream groups(root / "proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    // "hierarchy-id:controllers:path"
    size_t first = line.find(':');
    size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) {
      continue;
    }
    std::string_view id = std::string_view(line).substr(0, first);
    auto controllers =
        Split(std::string_view(line).substr(first + 1, second - first - 1), ',');
    std::string path = line.substr(second + 1);
    if (id == "0" && controllers.size() == 1 && controllers[0].empty()) {
      v2.group = path;
      v2.found_group = true;
    } else if (Contains(controllers, "cpu")) {
      v1.group = path;
      v1.found_group = true;
    }
  }

  std::ifstream mounts(root / "proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    // "id parent major:minor root mount-point options ... - type source super"
    size_t dash = line.find(" - ");
    if (dash == std::string::npos) {
      continue;
    }
    auto head = Split(std::string_view(line).substr(0, dash), ' ');
    auto tail = Split(std::string_view(line).substr(dash + 3), ' ');
    if (head.size() < 5 || tail.size() < 3) {
      continue;
    }
    Hierarchy* h = nullptr;
    if (tail[0] == "cgroup2") {
      h = &v2;
    } else if (tail[0] == "cgroup" && Contains(Split(tail[2], ','), "cpu")) {
      h = &v1;
    }
    if (h != nullptr && !h->found_mount) {
      h->mount_root = std::string(head[3]);
      h->mount_point = std::string(head[4]);
      h->found_mount = true;
    }
  }

  auto limit2 = SmallestLimit(root, v2, V2Limit);
  auto limit1 = SmallestLimit(root, v1, V1Limit);
  if (limit1 && limit2) {
    return std::min(*limit1, *limit2);
  }
  return limit2 ? limit2 : limit1;
}

size_t AvailableProcessors() {
  size_t n = 0;
  if (auto limit = CgroupCpuLimit()) {
    n = *limit;
  } else {
    cpu_set_t set;  // room for 1024 processors
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
      n = static_cast<size_t>(CPU_COUNT(&set));
    } else {
      long online = sysconf(_SC_NPROCESSORS_ONLN);
      n = online > 0 ? static_cast<size_t>(online) : 0;
    }
  }
  return std::max<size_t>(n, 1);
}

}  // namespace velmo::bridge
