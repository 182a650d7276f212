#include "ctl/SessionList.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>

#include "ctl/ControlDir.h"
#include "text/DisplayText.h"

namespace kor {

std::string formatDuration(int64_t seconds) {
  long long s = seconds < 0 ? 0 : static_cast<long long>(seconds);
  char text[64];
  if (s < 60)
    std::snprintf(text, sizeof text, "%llds", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%lldm%llds", s / 60, s % 60);
  else if (s < 86400)
    std::snprintf(text, sizeof text, "%lldh%lldm", s / 3600, (s % 3600) / 60);
  else
    std::snprintf(text, sizeof text, "%lldd%lldh", s / 86400, (s % 86400) / 3600);
  return text;
}

namespace {

// A status time field: the formatted age when present and at least 1, else "-".
std::string ageOf(const StatusMap& status, const char* key, int64_t now) {
  auto it = status.find(key);
  if (it == status.end()) return "-";
  long long at = parseLongLong(it->second);
  return at >= 1 ? formatDuration(now - at) : "-";
}

std::string padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

SessionRow socketRow(const std::string& name, const StatusMap& status, int64_t now) {
  if (status.empty()) return SessionRow{printableText(name), "-", "dead", "-", "-"};
  auto host = status.find("host");
  auto connected = status.find("connected");
  return SessionRow{printableText(name),
                    host != status.end() && !host->second.empty() ? printableText(host->second) : "-",
                    connected != status.end() && connected->second == "1" ? "connected" : "disconnected",
                    ageOf(status, "created", now), ageOf(status, "lastActivity", now)};
}

SessionRow savedRow(const SessionInfo& info, int64_t now) {
  return SessionRow{printableText(info.name), info.host.empty() ? "-" : printableText(info.host), "no-control", "-",
                    info.lastUsed >= 1 ? formatDuration(now - info.lastUsed) : "-"};
}

std::string formatSessionTable(std::vector<SessionRow> rows) {
  if (rows.empty()) return "";
  std::sort(rows.begin(), rows.end(), [](const SessionRow& a, const SessionRow& b) { return a.name < b.name; });
  size_t nameWidth = 4, hostWidth = 4, statusWidth = 6, upWidth = 2;
  for (const SessionRow& row : rows) {
    nameWidth = std::max(nameWidth, row.name.size());
    hostWidth = std::max(hostWidth, row.host.size());
    statusWidth = std::max(statusWidth, row.status.size());
    upWidth = std::max(upWidth, row.up.size());
  }
  auto line = [&](const SessionRow& row) {
    return padded(row.name, nameWidth) + "  " + padded(row.host, hostWidth) + "  " +
           padded(row.status, statusWidth) + "  " + padded(row.up, upWidth) + "  " + row.idle + "\n";
  };
  std::string table = line(SessionRow{"NAME", "HOST", "STATUS", "UP", "IDLE"});
  for (const SessionRow& row : rows) table += line(row);
  return table;
}

std::vector<SessionRow> sessionRows() {
  const std::vector<std::string> names = scanControlDir();
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<SessionRow> rows;
  for (const std::string& name : names) rows.push_back(socketRow(name, statusFields(controlEndpoint(name)), now));
  const std::set<std::string> socketNames(names.begin(), names.end());
  for (const SessionInfo& info : listSessions()) {
    if (!socketNames.count(info.name)) rows.push_back(savedRow(info, now));
  }
  return rows;
}

}  // namespace kor
