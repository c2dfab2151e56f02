// framecap: capture the file carried in a framed packet stream.
//
// Reads the stream on standard input and writes the payloads of its DATA
// packets, in order, to one output file until a TRAILER packet closes it.
// With -v every HEADER, TRAILER, KEY IN and DATA packet is logged on
// standard output, with a warning for each check byte out of sequence.
#include "packet.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef FRAMECAP_VERSION
#define FRAMECAP_VERSION "unknown"
#endif

bool verbose;
std::string path;
int outfile = -1;
int status;
volatile std::sig_atomic_t caught;

namespace {

constexpr unsigned limit = 3600;  // seconds a run may take
constexpr unsigned grace = 5;     // seconds the last flush may take after it

constexpr char usage[] =
	"usage: framecap [-v] [-p dir] [name]\n"
	"Capture the file carried in a framed packet stream on standard input.\n"
	"\n"
	"  -v      log every HEADER, TRAILER, KEY IN and DATA packet\n"
	"  -p dir  put the output file in dir\n"
	"  name    the output file; without it the stream is only logged\n";

// The time limit, a hang-up and the usual requests to stop all end the run,
// but only after the capture is safe.
constexpr int ending[] = {SIGALRM, SIGHUP, SIGINT, SIGTERM};

void on_signal(int sig)
{
	caught = sig;
}

// No SA_RESTART: the signal has to break a write that waits. A signal that
// was ignored when we started (a background job's SIGINT) stays ignored.
void catch_signals()
{
	struct sigaction sa = {};
	sa.sa_handler = on_signal;
	sigemptyset(&sa.sa_mask);
	for (int sig : ending)
		sigaddset(&sa.sa_mask, sig);
	sigset_t set;
	sigemptyset(&set);
	for (int sig : ending) {
		struct sigaction old;
		sigaction(sig, nullptr, &old);
		if (sig == SIGALRM || old.sa_handler != SIG_IGN) {
			sigaction(sig, &sa, nullptr);
			sigaddset(&set, sig);
		}
	}
	sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Without -p the name is taken as it stands; with it, dir/name.
std::string join(const std::string &prefix, const char *name)
{
	return prefix.empty() ? std::string(name) : prefix + "/" + name;
}

// A closed 0, 1 or 2 would be handed to the output file, and the input or
// the log would then be mixed up with the capture. Fill them with /dev/null.
bool std_fds()
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
			return false;
	return true;
}

// `framecap f < f` would empty the very capture it is to read.
bool is_input(const std::string &p)
{
	struct stat in, out;
	return fstat(0, &in) == 0 && S_ISREG(in.st_mode) && stat(p.c_str(), &out) == 0 &&
		in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int info(const char *text)
{
	if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0) {
		std::fprintf(stderr, "framecap: standard output: %s\n", std::strerror(errno));
		return 1;
	}
	return 0;
}

}  // namespace

// Whatever was captured reaches the file and the log, and then the run ends
// by the signal, as it would have without us. Should a reader that stopped
// reading hold up that last flush, an alarm with SIGALRM's own action ends
// the run all the same.
void end_by_signal()
{
	static bool once;
	int sig = caught;
	if (!once) {
		once = true;
		std::signal(sig, SIG_DFL);  // a second one ends the run at once
		std::signal(SIGALRM, SIG_DFL);
		alarm(grace);
		close_out();
		flush();
	}
	raise(sig);
	_exit(128 + sig);
}

int main(int argc, char **argv)
{
	if (argc > 1 && std::strcmp(argv[1], "--help") == 0)
		return info(usage);
	if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
		return info("framecap " FRAMECAP_VERSION "\n");
	if (!std_fds())
		return 1;

	// A log reader that goes away must not end the capture.
	std::signal(SIGPIPE, SIG_IGN);

	// Options, then the name; anything after the name is ignored. One pass
	// takes a -v, then a -p and its value.
	std::string prefix;
	int i = 1;
	for (;;) {
		bool v = i < argc && std::strcmp(argv[i], "-v") == 0;
		if (v) {
			verbose = true;
			i++;
		}
		if (argc - i >= 2 && std::strcmp(argv[i], "-p") == 0) {
			prefix = argv[i + 1];
			i += 2;
		} else if (!v) {
			break;
		}
	}

	if (i < argc) {
		path = join(prefix, argv[i]);
		if (is_input(path)) {
			std::fprintf(stderr, "framecap: %s: input file is output file\n", path.c_str());
			return 1;
		}
		outfile = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
		if (outfile < 0) {
			warn(path.c_str(), errno);
			return 1;
		}
	}

	// From here on there is a capture to save.
	catch_signals();
	alarm(limit);

	unsigned char ch = 0;
	for (;;) {
		frame(ch);
		act();  // as soon as the check byte is in
		rd_data(&ch);
	}
}
