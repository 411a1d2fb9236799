#include "platform/ini/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// Text of the file
// ---------------------------------------------------------------------------------------

struct Line {
  Bytes text;  // without its line ending
  Bytes eol;   // "", "\n" or "\r\n"
};

std::vector<Line> SplitLines(const Bytes& content) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t lf = content.find('\n', start);
    if (lf == Bytes::npos) {
      lines.push_back({content.substr(start), ""});
      break;
    }
    std::size_t end = lf;
    Bytes eol = "\n";
    if (end > start && content[end - 1] == '\r') {
      --end;
      eol = "\r\n";
    }
    lines.push_back({content.substr(start, end - start), eol});
    start = lf + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

Bytes Trim(const Bytes& s, std::size_t from, std::size_t to) {
  while (from < to && IsBlank(s[from])) ++from;
  while (to > from && IsBlank(s[to - 1])) --to;
  return s.substr(from, to - from);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::size_t FirstNonBlank(const Bytes& s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

// The section name when the line is a section header.
std::optional<Bytes> SectionOf(const Line& line) {
  const std::size_t i = FirstNonBlank(line.text);
  if (i >= line.text.size() || line.text[i] != '[') return std::nullopt;
  std::size_t close = line.text.find(']', i + 1);
  if (close == Bytes::npos) close = line.text.size();
  return Trim(line.text, i + 1, close);
}

// The key name and its value when the line is a key line.
std::optional<std::pair<Bytes, Bytes>> KeyOf(const Line& line) {
  const std::size_t i = FirstNonBlank(line.text);
  if (i >= line.text.size() || line.text[i] == '[' || line.text[i] == ';') return std::nullopt;
  const std::size_t eq = line.text.find('=', i);
  if (eq == Bytes::npos) return std::nullopt;
  return std::make_pair(Trim(line.text, i, eq), Trim(line.text, eq + 1, line.text.size()));
}

// Where a section lies: its header line, and the first line after its last line.
struct SectionSpan {
  std::size_t header;
  std::size_t end;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, const Bytes& section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionOf(lines[i]);
    if (!name || !SameName(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && !SectionOf(lines[end])) ++end;
    return SectionSpan{i, end};
  }
  return std::nullopt;
}

bool HasAny(const Bytes& s, const char* bytes, std::size_t count) {
  return s.find_first_of(bytes, 0, count) != Bytes::npos;
}

void CheckNames(const Bytes& section, const Bytes& key) {
  static const char kLineBreaks[] = {'\r', '\n', '\0'};
  const auto badName = [](const Bytes& n) {
    return n.empty() || IsBlank(n.front()) || IsBlank(n.back()) ||
           HasAny(n, kLineBreaks, sizeof kLineBreaks);
  };
  if (badName(section) || section.find(']') != Bytes::npos) {
    throw std::invalid_argument("INI section name not usable: " + section);
  }
  if (badName(key) || key.find('=') != Bytes::npos || key.front() == '[' || key.front() == ';') {
    throw std::invalid_argument("INI key name not usable: " + key);
  }
}

// ---------------------------------------------------------------------------------------
// The file on disk
// ---------------------------------------------------------------------------------------

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The whole content of a file, or nullopt when it cannot be opened or read.
std::optional<Bytes> ReadWholeFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  Bytes content;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

bool WriteAll(int fd, const Bytes& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

// Replaces the file at `target` by `content` through a temporary file in its folder.
// `old` is the status of the file being replaced, if there is one. Returns false on any
// failure, leaving the old file untouched and no temporary file behind.
bool ReplaceFile(const std::string& target, const Bytes& content, const struct stat* old) {
  const std::string folder = FolderOf(target);
  struct stat folderStat {};
  if (::stat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
      (folderStat.st_mode & kAnyWrite) == 0) {
    return false;
  }

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    temp = folder + "/." + BaseNameOf(target) + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
    // A new file gets the usual 0666 less the umask; a replaced one gets its old mode below.
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, old ? 0600 : 0666);
    if (raw < 0 && errno != EEXIST) return false;
  }
  if (raw < 0) return false;
  Fd fd(raw);

  bool ok = WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
  if (ok && old) {
    ok = ::fchmod(fd.get(), old->st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
      // Only the super-user may give a file away; anyone else keeps it as their own.
    }
  }
  ok = (::close(fd.release()) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here changes nothing already done.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
  return true;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

Bytes TIniFile::ReadString(const Bytes& section, const Bytes& key,
                           const Bytes& defaultValue) const {
  const auto cut = [](Bytes v) {
    if (v.size() > kMaxValueLength) v.resize(kMaxValueLength);
    return v;
  };
  const std::optional<Bytes> content = ReadWholeFile(path_);
  if (!content) return cut(defaultValue);
  const std::vector<Line> lines = SplitLines(*content);
  const auto span = FindSection(lines, section);
  if (!span) return cut(defaultValue);
  for (std::size_t i = span->header + 1; i < span->end; ++i) {
    const auto entry = KeyOf(lines[i]);
    if (entry && SameName(entry->first, key)) return cut(entry->second);
  }
  return cut(defaultValue);
}

void TIniFile::WriteString(const Bytes& section, const Bytes& key, const Bytes& value) {
  CheckNames(section, key);
  const auto fail = [this]() { return EIniFileException("Impossible d'écrire dans " + path_); };

  // Write through a symbolic link to the file it names, rather than replacing the link.
  std::string target = path_;
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path_.c_str(), resolved) != nullptr) target = resolved;
  }

  Bytes content;
  bool exists = false;
  if (::stat(target.c_str(), &st) == 0) {
    exists = true;
    if (!S_ISREG(st.st_mode) || (st.st_mode & kAnyWrite) == 0) throw fail();
    std::optional<Bytes> current = ReadWholeFile(target);
    if (!current) throw fail();  // rewriting it would lose what it holds
    content = std::move(*current);
  } else if (errno != ENOENT) {
    throw fail();
  }

  Bytes line = key + "=" + value.substr(0, value.find_first_of(Bytes("\r\n\0", 3)));

  std::vector<Line> lines = SplitLines(content);
  Bytes eol = "\r\n";
  for (const Line& l : lines) {
    if (!l.eol.empty()) {
      eol = l.eol;
      break;
    }
  }
  // Inserts a line after line `at - 1`, giving that one an ending if it has none.
  const auto insertAt = [&](std::size_t at, Bytes text) {
    if (at > 0 && lines[at - 1].eol.empty()) lines[at - 1].eol = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), eol});
  };

  if (const auto span = FindSection(lines, section)) {
    std::optional<std::size_t> found;
    std::size_t lastKey = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
      const auto entry = KeyOf(lines[i]);
      if (!entry) continue;
      lastKey = i;
      if (SameName(entry->first, key)) {
        found = i;
        break;
      }
    }
    if (found) {
      lines[*found].text = std::move(line);
    } else {
      insertAt(lastKey + 1, std::move(line));
    }
  } else {
    insertAt(lines.size(), "[" + section + "]");
    insertAt(lines.size(), std::move(line));
  }

  Bytes updated;
  updated.reserve(content.size() + 64);
  for (const Line& l : lines) updated += l.text + l.eol;

  if (!ReplaceFile(target, updated, exists ? &st : nullptr)) throw fail();
}
