// actions.cpp: what the capture does with each framed packet, and the output
// file and log behind it.
#include "packet.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Payloads gather here and go to the file in whole, aligned pieces. The
// buffer's index is the file offset modulo its size, so a piece pushed out
// early, before waiting for input, leaves the later writes aligned.
constexpr std::size_t ocap = 1 << 16;
alignas(4096) unsigned char obuf[ocap];
std::size_t ohead;  // first byte not yet written
std::size_t otail;  // end of the bytes held

// The log, gathered here and written in large pieces, and at the latest
// before we wait for input.
char lbuf[1 << 14];
std::size_t lhead;  // first byte not yet written
std::size_t llen;

// A write that waits on a slow reader was broken by a signal.
void interrupted()
{
	if (caught)
		end_by_signal();
}

// The output file failed: drop it and go on with the log, if there is one.
void drop(int err)
{
	warn(path.c_str(), err);
	close(outfile);
	outfile = -1;
	ohead = otail = 0;
	if (!verbose)
		quit();
}

// Write what the buffer holds.
void drain()
{
	while (ohead < otail) {
		ssize_t w = write(outfile, obuf + ohead, otail - ohead);
		if (w > 0)
			ohead += static_cast<std::size_t>(w);
		else if (w < 0 && errno == EINTR)
			interrupted();
		else
			return drop(w < 0 ? errno : ENOSPC);
	}
	if (otail == ocap)
		ohead = otail = 0;
}

void put(const unsigned char *p, std::size_t n)
{
	while (n > 0 && outfile >= 0) {
		std::size_t k = std::min(n, ocap - otail);
		copy(obuf + otail, p, k);
		otail += k;
		p += k;
		n -= k;
		if (otail == ocap)
			drain();
	}
}

// Standard output failed. A reader that went away just ends the log; any
// other failure is worth a message and the exit status. The capture goes on.
void lost_log(int err)
{
	if (err != EPIPE)
		warn("standard output", err);
	verbose = false;
}

void log_out()
{
	while (lhead < llen && verbose) {
		ssize_t w = write(1, lbuf + lhead, llen - lhead);
		if (w > 0)
			lhead += static_cast<std::size_t>(w);
		else if (w < 0 && errno == EINTR)
			interrupted();
		else
			lost_log(w < 0 ? errno : ENOSPC);
	}
	lhead = llen = 0;
}

__attribute__((format(printf, 1, 2))) void say(const char *fmt, ...)
{
	constexpr std::size_t line = 64;  // longer than any log line
	if (sizeof lbuf - llen < line)
		log_out();
	std::va_list ap;
	va_start(ap, fmt);
	int n = std::vsnprintf(lbuf + llen, line, fmt, ap);
	va_end(ap);
	if (n > 0)
		llen += std::min(static_cast<std::size_t>(n), line - 1);
}

// TRAILER and DATA packets carry the previous packet's check byte plus one.
void sequence()
{
	int want = (prev + 1) & 0xFF;
	if (verbose && want != pk.check)
		say("PACKET OUT OF SEQUENCE: Expected:%d Saw:%d\n", want, pk.check);
}

}  // namespace

void act()
{
	switch (pk.type) {
	case pk_header:
		if (verbose)
			say("HEADER length: %d check: %d\n", pk.length, pk.check);
		break;
	case pk_trailer:
		if (verbose)
			say("TRAILER length: %d check: %d\n", pk.length, pk.check);
		sequence();
		close_out();  // for good: later DATA goes nowhere
		break;
	case pk_keyin:
		if (verbose)
			say("KEY IN length: %d check: %d\n", pk.length, pk.check);
		break;
	case pk_data:
		if (verbose)
			say("DATA length: %d check: %d\n", pk.length, pk.check);
		put(pk.payload, static_cast<std::size_t>(pk.length));
		sequence();
		break;
	}
}

void flush()
{
	if (outfile >= 0)
		drain();
	log_out();
}

void close_out()
{
	if (outfile < 0)
		return;
	drain();
	if (outfile >= 0 && close(outfile) != 0)
		warn(path.c_str(), errno);
	outfile = -1;
	ohead = otail = 0;
}

void warn(const char *what, int err)
{
	std::fprintf(stderr, "framecap: %s: %s\n", what, std::strerror(err));
	status = 1;
}

void quit()
{
	close_out();
	log_out();
	std::exit(status);
}
