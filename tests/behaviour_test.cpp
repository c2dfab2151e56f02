// How framecap meets the world: live input, failing outputs, the time limit.
#include "harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

using namespace t;

namespace {

// DATA packets with check bytes from..from+n-1, and what they carry.
bytes datas(int n, int from, std::size_t len, bytes *payloads)
{
	bytes s;
	for (int i = 0; i < n; i++) {
		bytes p = rep(len, 'a' + i % 26);
		s += pkt(0x20, p, (from + i) & 0xFF);
		*payloads += p;
	}
	return s;
}

int open_or_die(const char *path, int flags)
{
	int fd = open(path, flags | O_CLOEXEC);
	if (fd < 0)
		ADD_FAILURE() << path << ": " << strerror(errno);
	return fd;
}

TEST(output, unopenable_path_fails_before_reading_input)
{
	tmpdir dir;
	// Standard input stays open and silent: a program that read it before
	// opening the file would hang here.
	proc p = start({framecap, "-v", "-p", "missing", "f"}, dir.path);
	int keep = dup(p.in);
	result r = finish(p, "", 10);
	close(keep);
	EXPECT_FALSE(r.hung);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: missing/f: No such file or directory\n");
	EXPECT_EQ(r.out, "");

	p = start({framecap, "."}, dir.path);
	keep = dup(p.in);
	r = finish(p, "", 10);
	close(keep);
	EXPECT_FALSE(r.hung);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: .: Is a directory\n");
}

TEST(output, input_file_is_not_emptied)
{
	tmpdir dir;
	bytes stream = pkt(0x20, "keep me", 1);
	spew(dir / "cap", stream);
	int in = open_or_die((dir / "cap").c_str(), O_RDONLY);
	proc p = start({framecap, "-p", dir.path, "cap"}, ".", in);
	close(in);
	result r = finish(p);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: " + (dir / "cap") + ": input file is output file\n");
	EXPECT_EQ(slurp(dir / "cap"), stream);
}

TEST(output, full_device_fails_loudly)
{
	bytes payloads;
	bytes in = datas(200, 1, 700, &payloads);
	result r = run({framecap, "/dev/full"}, in);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: /dev/full: No space left on device\n");

	// With -v the log goes on to the end; the status still tells.
	r = run({framecap, "-v", "/dev/full"}, in);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: /dev/full: No space left on device\n");
	EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 200);

	// A single small packet fails at the final flush.
	r = run({framecap, "/dev/full"}, pkt(0x20, "x", 1));
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: /dev/full: No space left on device\n");

	// And at the close made by a TRAILER packet.
	r = run({framecap, "/dev/full"}, pkt(0x20, "x", 1) + pkt(0x01, "", 2) + pkt(0x20, "y", 3));
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: /dev/full: No space left on device\n");
}

TEST(log, reader_gone_ends_log_not_capture)
{
	tmpdir dir;
	bytes payloads;
	bytes in = pkt(0x00, "", 0) + datas(3000, 1, 300, &payloads) + pkt(0x01, "", 3001 & 0xFF);
	proc p = start({framecap, "-v", "out"}, dir.path);
	close(p.out);  // like `| head -0`
	p.out = -1;
	result r = finish(p, in);
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.sig, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(slurp(dir / "out"), payloads);
}

TEST(log, failing_log_is_reported_once_and_capture_goes_on)
{
	tmpdir dir;
	bytes payloads;
	bytes in = datas(3000, 1, 300, &payloads);
	int full = open_or_die("/dev/full", O_WRONLY);
	proc p = start({framecap, "-v", "out"}, dir.path, -1, full);
	close(full);
	result r = finish(p, in);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: standard output: No space left on device\n");
	EXPECT_EQ(slurp(dir / "out"), payloads);
}

TEST(input, read_error_is_reported)
{
	tmpdir dir;
	int d = open_or_die(dir.path.c_str(), O_RDONLY);
	proc p = start({framecap, "out"}, dir.path, d);
	close(d);
	result r = finish(p);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: standard input: Is a directory\n");
	EXPECT_TRUE(exists(dir / "out"));
}

// A serial line that goes away: the pseudo-terminal's master reads EIO once
// the other side is closed. What came before it is in the file.
TEST(input, read_error_keeps_what_was_captured)
{
	tmpdir dir;
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	int slave = open_or_die(ptsname(master), O_RDWR | O_NOCTTY);
	termios tio;
	ASSERT_EQ(tcgetattr(slave, &tio), 0);
	cfmakeraw(&tio);
	ASSERT_EQ(tcsetattr(slave, TCSANOW, &tio), 0);

	proc p = start({framecap, "-v", "out"}, dir.path, master);
	close(master);
	bytes payloads;
	put(slave, datas(5, 1, 100, &payloads));
	EXPECT_EQ(line(p), logline("DATA", 100, 1));
	close(slave);
	result r = finish(p);
	EXPECT_EQ(r.code, 1);
	EXPECT_EQ(r.err, "framecap: standard input: Input/output error\n");
	EXPECT_EQ(slurp(dir / "out"), payloads);
}

// Each packet is in the log and the file as soon as its check byte is in,
// while the writer is still there.
TEST(input, live_pipe_is_handled_as_it_arrives)
{
	tmpdir dir;
	proc p = start({framecap, "-v", "out"}, dir.path);
	put(p.in, pkt(0x00, "", 0));
	EXPECT_EQ(line(p), logline("HEADER", 0, 0));
	put(p.in, pkt(0x20, "hello", 1));
	EXPECT_EQ(line(p), logline("DATA", 5, 1));
	EXPECT_TRUE(holds(dir / "out", "hello"));
	put(p.in, pkt(0x20, " world", 2));
	EXPECT_EQ(line(p), logline("DATA", 6, 2));
	EXPECT_TRUE(holds(dir / "out", "hello world"));
	result r = finish(p, pkt(0x01, "", 3));
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.out, logline("TRAILER", 0, 3));
	EXPECT_EQ(slurp(dir / "out"), "hello world");
}

// A non-blocking standard input is waited on, not taken for an error.
TEST(input, nonblocking_input_is_waited_on)
{
	tmpdir dir;
	int fds[2];
	ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
	fcntl(fds[0], F_SETFL, O_NONBLOCK);
	proc p = start({framecap, "-v", "out"}, dir.path, fds[0]);
	close(fds[0]);
	put(fds[1], pkt(0x20, "one", 1));
	EXPECT_EQ(line(p), logline("DATA", 3, 1));
	usleep(50000);
	put(fds[1], pkt(0x20, "two", 2));
	close(fds[1]);
	result r = finish(p);
	EXPECT_EQ(r.code, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, logline("DATA", 3, 2));
	EXPECT_EQ(slurp(dir / "out"), "onetwo");
}

// The time limit, sent early: the run ends by SIGALRM as before, with the
// file and the log complete.
TEST(limit, alarm_ends_run_with_capture_safe)
{
	tmpdir dir;
	proc p = start({framecap, "-v", "out"}, dir.path);
	bytes payloads;
	put(p.in, datas(50, 1, 500, &payloads));
	for (int i = 0; i < 50; i++)
		ASSERT_EQ(line(p), logline("DATA", 500, i + 1));
	kill(p.pid, SIGALRM);
	int keep = dup(p.in);  // the writer is still there: only the alarm ends it
	result r = finish(p, "", 10);
	close(keep);
	EXPECT_FALSE(r.hung);
	EXPECT_EQ(r.sig, SIGALRM);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(slurp(dir / "out"), payloads);
}

// framecap -v on 4000 packets of 300 bytes from a file, held up by a log
// pipe that nobody reads yet.
proc held_up(const tmpdir &dir, bytes *payloads)
{
	spew(dir / "in", datas(4000, 1, 300, payloads));
	int in = open_or_die((dir / "in").c_str(), O_RDONLY);
	proc p = start({framecap, "-v", "out"}, dir.path, in);
	close(in);
	usleep(300000);  // by now it waits on the full pipe
	return p;
}

// The file holds the first packets, whole ones only: a piece of the output
// buffer would not end on a packet.
void expect_whole_packets(const bytes &got, const bytes &payloads)
{
	EXPECT_GE(got.size(), 300u);
	EXPECT_EQ(got.size() % 300, 0u);
	EXPECT_EQ(got, payloads.substr(0, got.size()));
}

// The time limit while the log's reader has stopped reading for good: the
// run still ends by SIGALRM, with every packet handled so far in the file.
TEST(limit, alarm_ends_run_with_log_reader_stalled)
{
	tmpdir dir;
	bytes payloads;
	proc p = held_up(dir, &payloads);
	kill(p.pid, SIGALRM);

	int st = 0;
	bool ended = false;
	for (int i = 0; i < 300 && !ended; i++) {
		ended = waitpid(p.pid, &st, WNOHANG) == p.pid;
		if (!ended)
			usleep(100000);
	}
	if (!ended) {
		kill(p.pid, SIGKILL);
		waitpid(p.pid, &st, 0);
	}
	close(p.out);
	close(p.err);
	ASSERT_TRUE(ended);
	EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGALRM);
	expect_whole_packets(slurp(dir / "out"), payloads);
}

// A signal that ends the run while it is busy, here with a log reader that
// reads late: what was handled so far still reaches the file and the log,
// and the run ends by that signal.
class ending : public testing::TestWithParam<int> {};

TEST_P(ending, signal_mid_capture_saves_it_first)
{
	int sig = GetParam();
	tmpdir dir;
	bytes payloads;
	proc p = held_up(dir, &payloads);
	kill(p.pid, sig);
	result r = finish(p);

	EXPECT_EQ(r.sig, sig);
	EXPECT_EQ(r.err, "");
	bytes got = slurp(dir / "out");
	expect_whole_packets(got, payloads);
	EXPECT_EQ(static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n')), got.size() / 300);
}

INSTANTIATE_TEST_SUITE_P(signals, ending, testing::Values(SIGALRM, SIGHUP, SIGINT, SIGTERM),
	[](const testing::TestParamInfo<int> &i) {
		switch (i.param) {
		case SIGALRM:
			return "ALRM";
		case SIGHUP:
			return "HUP";
		case SIGINT:
			return "INT";
		default:
			return "TERM";
		}
	});

}  // namespace
