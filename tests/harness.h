// harness.h: run framecap and framepack as a user would, and build streams.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace t {

using bytes = std::string;

// The programs under test, as built by CMake.
constexpr const char *framecap = FRAMECAP;
constexpr const char *framepack = FRAMEPACK;

// A running program. Each stream it was not given is a pipe to us.
struct proc {
	pid_t pid = -1;
	int in = -1;
	int out = -1;
	int err = -1;
};

struct result {
	std::string out, err;
	int code = -1;  // exit status, or -1
	int sig = 0;    // the signal that ended it, or 0
	bool hung = false;
};

// Start args[0] in dir. in_fd and out_fd, when not -1, become its standard
// input and output instead of pipes.
proc start(const std::vector<std::string> &args, const std::string &dir = ".", int in_fd = -1,
	int out_fd = -1);

// Feed input (closing it after), collect the outputs and wait, killing the
// program after timeout seconds.
result finish(proc &p, const bytes &input = "", int timeout = 60);

result run(const std::vector<std::string> &args, const bytes &input, const std::string &dir = ".");

// Read one line of p's standard output, or "" after timeout seconds.
std::string line(proc &p, int timeout = 10);

// Write all of s to fd.
void put(int fd, const bytes &s);

// A fresh directory, removed with all it holds at the end of the scope.
struct tmpdir {
	std::string path;
	tmpdir();
	~tmpdir();
	tmpdir(const tmpdir &) = delete;
	tmpdir &operator=(const tmpdir &) = delete;
	std::string operator/(const std::string &name) const { return path + "/" + name; }
};

bool exists(const std::string &path);
bytes slurp(const std::string &path);
void spew(const std::string &path, const bytes &content);
std::vector<std::string> files(const std::string &dir);  // regular files below dir, sorted

// Stream building.
bytes raw(std::initializer_list<int> b);
bytes rep(std::size_t n, int byte);
bytes pkt(int type, const bytes &payload, int check);  // a well-formed frame
bytes random_bytes(std::size_t n, unsigned seed);

// Expected log lines.
std::string logline(const char *name, std::size_t length, int check);
std::string oos(int want, int saw);

// Wait until path holds want, or timeout seconds.
bool holds(const std::string &path, const bytes &want, int timeout = 10);

}  // namespace t
