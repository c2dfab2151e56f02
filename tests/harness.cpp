#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace t {

namespace {

using clk = std::chrono::steady_clock;

[[noreturn]] void die(const std::string &what)
{
	throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A write end that the reader closed must not kill the tests.
const bool sigpipe_ignored = [] {
	std::signal(SIGPIPE, SIG_IGN);
	return true;
}();

void pipe2x(int fds[2])
{
	if (pipe2(fds, O_CLOEXEC) != 0)
		die("pipe");
}

int ms_left(clk::time_point end)
{
	auto d = std::chrono::duration_cast<std::chrono::milliseconds>(end - clk::now()).count();
	return d < 0 ? 0 : static_cast<int>(d);
}

}  // namespace

proc start(const std::vector<std::string> &args, const std::string &dir, int in_fd, int out_fd)
{
	(void)sigpipe_ignored;
	int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2];
	if (in_fd < 0)
		pipe2x(in);
	if (out_fd < 0)
		pipe2x(out);
	pipe2x(err);

	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);

	pid_t pid = fork();
	if (pid < 0)
		die("fork");
	if (pid == 0) {
		// dup2 clears close-on-exec on the copies.
		dup2(in_fd >= 0 ? in_fd : in[0], 0);
		dup2(out_fd >= 0 ? out_fd : out[1], 1);
		dup2(err[1], 2);
		// As a foreground job would start, whatever the test runner ignores.
		for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGTERM, SIGALRM})
			std::signal(sig, SIG_DFL);
		sigset_t none;
		sigemptyset(&none);
		sigprocmask(SIG_SETMASK, &none, nullptr);
		if (chdir(dir.c_str()) != 0)
			_exit(126);
		execv(argv[0], argv.data());
		_exit(127);
	}
	proc p;
	p.pid = pid;
	if (in_fd < 0) {
		close(in[0]);
		p.in = in[1];
	}
	if (out_fd < 0) {
		close(out[1]);
		p.out = out[0];
	}
	close(err[1]);
	p.err = err[0];
	return p;
}

result finish(proc &p, const bytes &input, int timeout)
{
	result r;
	auto end = clk::now() + std::chrono::seconds(timeout);
	std::size_t sent = 0;
	if (p.in >= 0)
		fcntl(p.in, F_SETFL, fcntl(p.in, F_GETFL) | O_NONBLOCK);
	for (;;) {
		if (p.in >= 0 && sent == input.size()) {
			close(p.in);
			p.in = -1;
		}
		pollfd fds[3];
		int n = 0;
		if (p.in >= 0)
			fds[n++] = {p.in, POLLOUT, 0};
		if (p.out >= 0)
			fds[n++] = {p.out, POLLIN, 0};
		if (p.err >= 0)
			fds[n++] = {p.err, POLLIN, 0};
		if (n == 0)
			break;
		int left = ms_left(end);
		if (left == 0 || poll(fds, n, left) == 0) {
			r.hung = true;
			kill(p.pid, SIGKILL);
			break;
		}
		for (int i = 0; i < n; i++) {
			if (!fds[i].revents)
				continue;
			int fd = fds[i].fd;
			if (fd == p.in) {
				ssize_t w = write(fd, input.data() + sent, input.size() - sent);
				if (w > 0)
					sent += static_cast<std::size_t>(w);
				else if (w < 0 && errno != EAGAIN && errno != EINTR)
					sent = input.size();  // it stopped reading
				continue;
			}
			char buf[65536];
			ssize_t k = read(fd, buf, sizeof buf);
			if (k > 0) {
				(fd == p.out ? r.out : r.err).append(buf, static_cast<std::size_t>(k));
			} else if (k == 0 || (errno != EINTR && errno != EAGAIN)) {
				close(fd);
				(fd == p.out ? p.out : p.err) = -1;
			}
		}
	}
	for (int *fd : {&p.in, &p.out, &p.err})
		if (*fd >= 0) {
			close(*fd);
			*fd = -1;
		}
	int st = 0;
	for (;;) {
		pid_t w = waitpid(p.pid, &st, WNOHANG);
		if (w == p.pid)
			break;
		if (ms_left(end) == 0 && !r.hung) {
			r.hung = true;
			kill(p.pid, SIGKILL);
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	if (WIFEXITED(st))
		r.code = WEXITSTATUS(st);
	if (WIFSIGNALED(st))
		r.sig = WTERMSIG(st);
	return r;
}

result run(const std::vector<std::string> &args, const bytes &input, const std::string &dir)
{
	proc p = start(args, dir);
	return finish(p, input);
}

std::string line(proc &p, int timeout)
{
	auto end = clk::now() + std::chrono::seconds(timeout);
	std::string s;
	char c;
	while (ms_left(end) > 0) {
		pollfd f = {p.out, POLLIN, 0};
		if (poll(&f, 1, ms_left(end)) <= 0)
			break;
		if (read(p.out, &c, 1) != 1)
			break;
		s += c;
		if (c == '\n')
			return s;
	}
	return "";
}

void put(int fd, const bytes &s)
{
	std::size_t done = 0;
	while (done < s.size()) {
		ssize_t w = write(fd, s.data() + done, s.size() - done);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			die("write");
		done += static_cast<std::size_t>(w);
	}
}

tmpdir::tmpdir()
{
	const char *base = std::getenv("TMPDIR");
	std::string tpl = std::string(base && *base ? base : "/tmp") + "/framecap-test.XXXXXX";
	if (!mkdtemp(tpl.data()))
		die("mkdtemp");
	path = tpl;
}

tmpdir::~tmpdir()
{
	nftw(
		path.c_str(), [](const char *p, const struct stat *, int, FTW *) { return remove(p); }, 16,
		FTW_DEPTH | FTW_PHYS);
}

bool exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

bytes slurp(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::ostringstream s;
	s << f.rdbuf();
	return s.str();
}

void spew(const std::string &path, const bytes &content)
{
	std::ofstream f(path, std::ios::binary);
	f << content;
	if (!f.flush())
		throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> files(const std::string &dir)
{
	static std::vector<std::string> *found;
	static std::size_t skip;
	std::vector<std::string> v;
	found = &v;
	skip = dir.size() + 1;
	nftw(
		dir.c_str(),
		[](const char *p, const struct stat *, int type, FTW *) {
			if (type == FTW_F)
				found->push_back(std::string(p).substr(skip));
			return 0;
		},
		16, FTW_PHYS);
	std::sort(v.begin(), v.end());
	return v;
}

bytes raw(std::initializer_list<int> b)
{
	bytes s;
	for (int c : b)
		s += static_cast<char>(c);
	return s;
}

bytes rep(std::size_t n, int byte)
{
	return bytes(n, static_cast<char>(byte));
}

bytes pkt(int type, const bytes &payload, int check)
{
	std::size_t len = payload.size() + 5;
	return raw({0xF0, type, static_cast<int>(len >> 8), static_cast<int>(len & 0xFF)}) + payload +
		raw({check});
}

bytes random_bytes(std::size_t n, unsigned seed)
{
	std::mt19937 g(seed);
	bytes s(n, '\0');
	for (auto &c : s)
		c = static_cast<char>(g());
	return s;
}

std::string logline(const char *name, std::size_t length, int check)
{
	return std::string(name) + " length: " + std::to_string(length) + " check: " + std::to_string(check) +
		"\n";
}

std::string oos(int want, int saw)
{
	return "PACKET OUT OF SEQUENCE: Expected:" + std::to_string(want) + " Saw:" + std::to_string(saw) + "\n";
}

bool holds(const std::string &path, const bytes &want, int timeout)
{
	auto end = clk::now() + std::chrono::seconds(timeout);
	do {
		if (slurp(path) == want)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	} while (ms_left(end) > 0);
	return false;
}

}  // namespace t
