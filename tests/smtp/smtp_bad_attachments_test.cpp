// SPDX-License-Identifier: Apache-2.0
// Attachments whose paths go bad: a directory, a FIFO with no writer, a
// dangling link, a link to /dev/zero, a file that is missing, vanishes after
// it was queued, is locked by its writer or cannot be read, and files that
// shrink or grow before or while they are read. Every message goes to
// aiosmtpd through the one-call send and through a session, and is parsed
// back with Python's email package: the text part and the other attachments
// arrive whole, the bad one arrives as an empty part (or as the bytes that
// could be read), the host is told which file is missing, and no send hangs.
#include "framework/core/string_array.h"
#include "mail/mime_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/smtp_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvenkel::test;

namespace {

const char kBody[] = "Pump 7 stopped at 03:12.\r\nLevel 93 %.";
const char kUnreadable[] = "Attachment could not be read: ";

// The longest one send may take here; a send still running then has hung.
constexpr std::chrono::seconds kDeadline{60};

// Runs fn on a thread of its own and ends the program when it has not
// returned by the deadline: a send blocked for ever (on a FIFO, say) must
// fail the test rather than stall the whole run, and a blocked thread can
// neither be stopped nor joined.
template <class Result>
Result WithinDeadline(const std::string& what, std::function<Result()> fn) {
  std::packaged_task<Result()> task(std::move(fn));
  std::future<Result> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(kDeadline) != std::future_status::ready) {
    std::fprintf(stderr, "FATAL: %s did not return within %lld s\n", what.c_str(),
                 static_cast<long long>(kDeadline.count()));
    std::fflush(stderr);
    std::_Exit(1);
  }
  worker.join();
  return done.get();
}

enum class Route { OneCall, Session };

const char* RouteName(Route route) { return route == Route::OneCall ? "one-call send" : "session"; }

struct Outcome {
  bool accepted = false;
  std::string lastError;
  // GetFailedParts of the message; the one-call send keeps its message to itself.
  std::vector<std::string> failedParts;
};

// Sends kBody with the files attached. between runs after the parts are
// queued and before the message is formatted; the one-call send queues and
// formats inside the call, so there it runs just before the call.
Outcome Send(Route route, int port, const std::vector<std::string>& paths,
             const std::function<void()>& between = {}) {
  return WithinDeadline<Outcome>(RouteName(route), [&]() {
    Outcome out;
    CSMTP smtp;
    Configure(smtp, {.port = port, .timeout = 30});
    if (route == Route::OneCall) {
      CStringArray list;
      for (const std::string& p : paths) list.Add(p.c_str());
      if (between) between();
      out.accepted = smtp.SendMessage("ops@example.com", kBody, "Alarm 7", &list) != FALSE;
    } else {
      CMIMEMessage msg;
      msg.m_sFrom = "alarm@example.com";
      msg.m_sSubject = "Alarm 7";
      msg.m_sBody = kBody;
      msg.AddRecipient("ops@example.com");
      for (const std::string& p : paths) msg.AddMIMEPart(p.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
      if (between) between();
      if (smtp.Connect()) {
        out.accepted = smtp.SendMessage(&msg) != FALSE;
        smtp.Disconnect();
      }
      for (INT_PTR i = 0; i < msg.GetFailedParts().GetSize(); ++i) out.failedParts.push_back(msg.GetFailedParts()[i].str());
    }
    out.lastError = smtp.GetLastError().str();
    return out;
  });
}

// What one attachment should look like once Python has parsed the message:
// its "part" line without the number, and its decoded bytes.
struct Expected {
  std::string type;
  std::string bytes;
};

Expected Attachment(const std::string& name, const std::string& bytes) {
  return {"application/octet-stream " + name + " -", bytes};
}

// The part that stands in for a file that could not be opened: no headers,
// so text/plain, and no content.
Expected Placeholder() { return {"text/plain - -", ""}; }

// Checks the number-th stored message (from 1): the text part, then the
// attachments as expected, and no defect anywhere.
void CheckStored(const LocalSmtpServer& server, std::size_t number, const std::vector<Expected>& attachments,
                 const std::string& label) {
  SCOPED_TRACE(label);
  const std::vector<std::string> stored = server.Messages(number, 20000);
  ASSERT_GE(stored.size(), number);
  const ParsedMessage parsed = tarvenkel::test::ParseMessage(stored[number - 1]);
  EXPECT_EQ(parsed.Header("Subject"), "Alarm 7");
  std::vector<std::string> partLines;
  for (const std::string& line : parsed.lines) {
    if (line.rfind("part ", 0) == 0) partLines.push_back(line);
    EXPECT_EQ(line.rfind("defect", 0), std::string::npos) << line;
  }
  ASSERT_EQ(parsed.parts.size(), 1 + attachments.size());
  EXPECT_EQ(partLines[0], "part 0 text/plain - -");
  EXPECT_EQ(parsed.parts[0].rfind("Pump 7 stopped at 03:12.\r\nLevel 93 %.", 0), 0u) << parsed.parts[0];
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    EXPECT_EQ(partLines[i + 1], "part " + std::to_string(i + 1) + " " + attachments[i].type);
    EXPECT_TRUE(parsed.parts[i + 1] == attachments[i].bytes)
        << "part " << i + 1 << ": " << parsed.parts[i + 1].size() << " bytes, expected " << attachments[i].bytes.size();
  }
}

// The byte at offset i of the files that change while they are read. It
// is never 0 and its period, 251, divides neither a 54-byte block nor a
// page, so a byte read from the wrong offset, skipped or repeated shows.
char PatternByte(std::uint64_t i) { return static_cast<char>(1 + i % 251); }

std::string Pattern(std::uint64_t from, std::uint64_t to) {
  std::string bytes;
  bytes.reserve(to - from);
  for (std::uint64_t i = from; i < to; ++i) bytes += PatternByte(i);
  return bytes;
}

// Writes the pattern bytes [from, to) at their own offsets.
void WritePattern(int fd, std::uint64_t from, std::uint64_t to) {
  constexpr std::uint64_t kChunk = 1 << 16;
  for (std::uint64_t at = from; at < to; at += kChunk) {
    const std::string chunk = Pattern(at, std::min(to, at + kChunk));
    ASSERT_EQ(::pwrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(at)), static_cast<ssize_t>(chunk.size()));
  }
}

// The base64 lines of the named attachment in a stored message, from the
// line after its empty header-ending line to the boundary after it.
std::vector<std::string> EncodedLines(const std::string& eml, const std::string& name) {
  const std::string text = ReadFile(eml);
  std::size_t at = text.find("filename=" + name + "\r\n");
  std::vector<std::string> lines;
  if (at == std::string::npos) return lines;
  at = text.find("\r\n\r\n", at) + 4;
  for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::string line = text.substr(at, end - at);
    if (line.rfind("--", 0) == 0) break;
    lines.push_back(line);
  }
  return lines;
}

// Checks the layout of an attachment's lines: 72 characters for every full
// block of 54 bytes, a shorter last line (empty after a whole number of
// blocks) that accounts for the rest, and the closing empty line. Together
// they say the encoded length is exactly the decoded length.
void CheckLineLayout(const std::vector<std::string>& lines, std::size_t decodedSize) {
  ASSERT_EQ(lines.size(), decodedSize / 54 + 2);
  for (std::size_t i = 0; i + 2 < lines.size(); ++i) ASSERT_EQ(lines[i].size(), 72u) << "line " << i;
  EXPECT_EQ(lines[lines.size() - 2].size(), (decodedSize % 54 + 2) / 3 * 4);
  EXPECT_EQ(lines.back(), "");
}

class BadAttachments : public ::testing::Test {
protected:
  BadAttachments() {
    // Readable for everyone, for the test that sends as an unprivileged user.
    ::chmod(m_dir.path().c_str(), 0755);
    WriteFile(Before(), m_before);
    WriteFile(After(), m_after);
  }

  std::string Before() const { return m_dir.file("before.log"); }
  std::string After() const { return m_dir.file("after.bin"); }
  Expected BeforePart() const { return Attachment("before.log", m_before); }
  Expected AfterPart() const { return Attachment("after.bin", m_after); }

  TempDir m_dir;
  LocalSmtpServer m_server;
  std::size_t m_sent = 0;
  const std::string m_before = RandomBytes(1000, 1);
  const std::string m_after = RandomBytes(200, 2);
};

// A bad path, made afresh for each send.
struct BadPath {
  const char* what;
  // Creates it; returns a descriptor to close after the send (a held lock), or -1.
  std::function<int(const std::string& path)> make;
  // Runs between queueing and formatting, or is empty.
  std::function<void(const std::string& path)> between;
};

TEST_F(BadAttachments, UnusablePathsBecomeEmptyPartsAndTheRestArrives) {
  const std::vector<BadPath> cases = {
      {"a directory", [](const std::string& p) { return ::mkdir(p.c_str(), 0755) == 0 ? -1 : -2; }, {}},
      {"a FIFO with no writer", [](const std::string& p) { return ::mkfifo(p.c_str(), 0644) == 0 ? -1 : -2; }, {}},
      {"a dangling link",
       [](const std::string& p) { return ::symlink((p + ".nowhere").c_str(), p.c_str()) == 0 ? -1 : -2; },
       {}},
      {"a link to a device that never ends",
       [](const std::string& p) { return ::symlink("/dev/zero", p.c_str()) == 0 ? -1 : -2; },
       {}},
      {"a missing file", [](const std::string&) { return -1; }, {}},
      {"a file removed after queueing",
       [](const std::string& p) {
         WriteFile(p, "gone");
         return -1;
       },
       [](const std::string& p) { ::unlink(p.c_str()); }},
      {"a file its writer holds locked",
       [](const std::string& p) {
         WriteFile(p, "busy");
         const int fd = ::open(p.c_str(), O_WRONLY | O_CLOEXEC);
         return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? fd : -2;
       },
       {}},
  };
  int n = 0;
  for (const BadPath& c : cases) {
    for (Route route : {Route::OneCall, Route::Session}) {
      for (bool last : {false, true}) {
        const std::string bad = m_dir.file("bad" + std::to_string(n++) + ".log");
        const std::string label = std::string(c.what) + ", " + RouteName(route) + (last ? ", last" : ", between two");
        SCOPED_TRACE(label);
        const int held = c.make(bad);
        ASSERT_NE(held, -2) << "cannot make " << c.what;
        const std::vector<std::string> paths = last ? std::vector<std::string>{Before(), bad}
                                                    : std::vector<std::string>{Before(), bad, After()};
        const Outcome out = Send(route, m_server.port(), paths, c.between ? [&] { c.between(bad); } : std::function<void()>());
        if (held >= 0) ::close(held);
        EXPECT_TRUE(out.accepted) << out.lastError;
        EXPECT_EQ(out.lastError, kUnreadable + bad);
        if (route == Route::Session) {
          EXPECT_EQ(out.failedParts, std::vector<std::string>{bad});
        }
        std::vector<Expected> expected = {BeforePart(), Placeholder()};
        if (!last) expected.push_back(AfterPart());
        CheckStored(m_server, ++m_sent, expected, label);
      }
    }
  }
  std::printf("%d bad paths sent, %zu messages checked\n", n, m_sent);
}

// A file that opens but whose first read fails (this process's memory read
// at offset 0 fails with EIO): the part keeps its header and has no content.
TEST_F(BadAttachments, ReadErrorAtTheFirstByteLeavesAnEmptyNamedPart) {
  for (Route route : {Route::OneCall, Route::Session}) {
    const Outcome out = Send(route, m_server.port(), {Before(), "/proc/self/mem", After()});
    EXPECT_TRUE(out.accepted) << out.lastError;
    EXPECT_EQ(out.lastError, std::string(kUnreadable) + "/proc/self/mem");
    if (route == Route::Session) {
      EXPECT_EQ(out.failedParts, std::vector<std::string>{"/proc/self/mem"});
    }
    CheckStored(m_server, ++m_sent, {BeforePart(), Attachment("mem", ""), AfterPart()}, RouteName(route));
  }
}

// Permission bits do not stop root, so the send runs in a child process that
// has given up root for the nobody user; a file with mode 000 then cannot be
// opened, as for any host that does not run as root.
TEST_F(BadAttachments, FileWithoutReadPermissionBecomesAnEmptyPart) {
  const std::string locked = m_dir.file("no-access.log");
  WriteFile(locked, "secret");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  ::chmod(Before().c_str(), 0644);
  ::chmod(After().c_str(), 0644);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // No gtest assertions here: they would stay in the child. Each failure has an exit status of its own.
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(77);
    if (::access(locked.c_str(), R_OK) == 0 || ::access(Before().c_str(), R_OK) != 0) ::_exit(78);
    int status = 0;
    for (Route route : {Route::OneCall, Route::Session}) {
      const Outcome out = Send(route, m_server.port(), {Before(), locked, After()});
      if (!out.accepted) status |= 1;
      if (out.lastError != kUnreadable + locked) status |= 2;
      if (route == Route::Session && out.failedParts != std::vector<std::string>{locked}) status |= 4;
      if (status != 0) std::fprintf(stderr, "%s: accepted %d, \"%s\"\n", RouteName(route), out.accepted, out.lastError.c_str());
    }
    ::_exit(status);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended with status " << status;
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot switch to the nobody user here";
  ASSERT_NE(WEXITSTATUS(status), 78) << "the nobody user can still read a file with mode 000";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not accepted, 2: wrong GetLastError text, 4: wrong GetFailedParts";
  for (std::size_t i = 1; i <= 2; ++i) CheckStored(m_server, i, {BeforePart(), Placeholder(), AfterPart()}, "as nobody");
}

// Attached files are opened when the message is formatted, not when they are
// queued: a file cut short or extended in between goes out as it is then.
TEST_F(BadAttachments, FileChangedAfterQueueingGoesOutAsItIsWhenFormatted) {
  const std::string log = m_dir.file("changing.log");
  const std::string big = RandomBytes(1 << 20, 3);
  struct Change {
    const char* what;
    std::string before;
    std::string after;
  };
  const std::vector<Change> changes = {
      {"cut short", big, big.substr(0, 1000)},
      {"emptied", big, ""},
      {"extended", big.substr(0, 100), big},
      {"cut to whole blocks", big, big.substr(0, 54 * 20)},
  };
  for (const Change& c : changes) {
    WriteFile(log, c.before);
    const Outcome out = Send(Route::Session, m_server.port(), {Before(), log, After()}, [&] {
      ASSERT_EQ(::truncate(log.c_str(), 0), 0);
      WriteFile(log, c.after);
    });
    EXPECT_TRUE(out.accepted) << out.lastError;
    EXPECT_EQ(out.lastError, "OK") << c.what;
    EXPECT_TRUE(out.failedParts.empty()) << c.what;
    CheckStored(m_server, ++m_sent, {BeforePart(), Attachment("changing.log", c.after), AfterPart()}, c.what);
    CheckLineLayout(EncodedLines(m_server.Messages(m_sent).back(), "changing.log"), c.after.size());
  }
}

// A writer that keeps cutting the file short and extending it again while it
// is read: whatever the reader sees, the message is well formed, every byte
// of the part is the file's byte at that offset (or a zero where a cut left
// a hole for a moment), and the encoded lines account for exactly the bytes
// decoded.
TEST_F(BadAttachments, FileCutAndExtendedWhileReadStaysConsistent) {
  constexpr std::uint64_t kMax = 6 << 20;
  const std::string log = m_dir.file("churn.log");
  const int fd = ::open(log.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  WritePattern(fd, 0, kMax);
  std::atomic<bool> stop{false};
  std::atomic<long> changes{0};
  std::thread writer([&] {
    std::mt19937_64 random(11);
    std::uint64_t size = kMax;
    // Bounded in count as well as by the stop flag.
    for (int i = 0; i < 1000000 && !stop.load(); ++i) {
      const std::uint64_t next = random() % (kMax + 1);
      if (next < size) {
        if (::ftruncate(fd, static_cast<off_t>(next)) != 0) break;
      } else {
        WritePattern(fd, size, next);
      }
      size = next;
      changes.fetch_add(1);
      std::this_thread::yield();
    }
  });
  std::size_t zeros = 0;
  std::vector<std::size_t> sizes;
  for (int round = 0; round < 8; ++round) {
    const Route route = round % 2 == 0 ? Route::Session : Route::OneCall;
    const std::string label = std::string(RouteName(route)) + ", round " + std::to_string(round);
    const Outcome out = Send(route, m_server.port(), {Before(), log, After()});
    EXPECT_TRUE(out.accepted) << out.lastError;
    EXPECT_EQ(out.lastError, "OK") << label;
    const std::vector<std::string> stored = m_server.Messages(++m_sent, 20000);
    ASSERT_EQ(stored.size(), m_sent);
    const ParsedMessage parsed = tarvenkel::test::ParseMessage(stored.back());
    for (const std::string& line : parsed.lines) EXPECT_EQ(line.rfind("defect", 0), std::string::npos) << line;
    ASSERT_EQ(parsed.parts.size(), 4u) << label;
    EXPECT_EQ(parsed.parts[1], m_before) << label;
    EXPECT_EQ(parsed.parts[3], m_after) << label;
    const std::string& got = parsed.parts[2];
    EXPECT_LE(got.size(), kMax) << label;
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (got[i] == 0) {
        ++zeros;
      } else if (got[i] != PatternByte(i)) {
        ADD_FAILURE() << label << ": byte " << i << " is " << int(got[i]) << ", the file had " << int(PatternByte(i));
        break;
      }
    }
    CheckLineLayout(EncodedLines(stored.back(), "churn.log"), got.size());
    sizes.push_back(got.size());
  }
  stop = true;
  writer.join();
  ::close(fd);
  std::printf("attachment sizes while the file changed %ld times:", changes.load());
  for (std::size_t s : sizes) std::printf(" %zu", s);
  std::printf("; zero bytes from cuts: %zu\n", zeros);
}

// A log that its writer extends without pause: the send ends with the file
// as long as it was when the attachment was opened, instead of chasing a
// writer that may be faster than the encoder.
TEST_F(BadAttachments, FileThatKeepsGrowingStillEnds) {
  constexpr std::uint64_t kStart = 4 << 20;
  constexpr std::uint64_t kBound = 512ull << 20;  // the writer stops here whatever happens
  const std::string log = m_dir.file("growing.log");
  const int fd = ::open(log.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  WritePattern(fd, 0, kStart);
  for (Route route : {Route::Session, Route::OneCall}) {
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kStart)), 0);
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::atomic<std::uint64_t> written{kStart};
    std::thread writer([&] {
      while (!started.load()) std::this_thread::yield();
      for (std::uint64_t size = kStart; size < kBound && !stop.load(); size += 1 << 20) {
        WritePattern(fd, size, size + (1 << 20));
        written = size + (1 << 20);
      }
    });
    const Outcome out = Send(route, m_server.port(), {Before(), log, After()}, [&] { started = true; });
    stop = true;
    writer.join();
    EXPECT_TRUE(out.accepted) << out.lastError;
    EXPECT_EQ(out.lastError, "OK");
    const std::vector<std::string> stored = m_server.Messages(++m_sent, 20000);
    ASSERT_EQ(stored.size(), m_sent);
    const ParsedMessage parsed = tarvenkel::test::ParseMessage(stored.back());
    ASSERT_EQ(parsed.parts.size(), 4u);
    const std::string& got = parsed.parts[2];
    EXPECT_GE(got.size(), kStart);
    // Reading until the writer gives up would take all kBound bytes.
    EXPECT_LT(got.size(), kBound);
    EXPECT_TRUE(got == Pattern(0, got.size())) << "not the file's first " << got.size() << " bytes";
    std::printf("%s: attached %zu bytes; the writer had written %llu\n", RouteName(route), got.size(),
                static_cast<unsigned long long>(written.load()));
  }
  ::close(fd);
}

}  // namespace
