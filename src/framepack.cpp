// framepack: turn a file into a framed packet stream that framecap captures.
//
// The stream is a HEADER packet, the file in DATA packets, a TRAILER packet
// and one filler byte, with check bytes 0, 1, 2, ... so no receiver warns.
#include "packet.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#ifndef FRAMECAP_VERSION
#define FRAMECAP_VERSION "unknown"
#endif

namespace {

constexpr char usage[] =
	"usage: framepack [-s SIZE] [FILE]\n"
	"Write FILE (standard input when absent or -) as a framed packet stream.\n"
	"\n"
	"  -s SIZE  payload bytes per DATA packet, 1 to 767 (default 767)\n";

unsigned char out[1 << 16];  // the stream, written in large pieces
std::size_t olen;
unsigned char seq;  // check byte of the next packet

[[noreturn]] void die(const char *what, int err)
{
	std::fprintf(stderr, "framepack: %s: %s\n", what, std::strerror(err));
	std::exit(1);
}

[[noreturn]] void bad_usage(const char *why)
{
	std::fprintf(stderr, "framepack: %s\n%s", why, usage);
	std::exit(2);
}

void drain()
{
	std::size_t done = 0;
	while (done < olen) {
		ssize_t w = write(1, out + done, olen - done);
		if (w > 0)
			done += static_cast<std::size_t>(w);
		else if (w < 0 && errno == EINTR)
			continue;
		else if (w < 0 && errno == EPIPE)
			std::exit(1);  // the reader is gone; nothing to say
		else
			die("standard output", w < 0 ? errno : ENOSPC);
	}
	olen = 0;
}

void emit(unsigned char type, const unsigned char *p, std::size_t n)
{
	if (sizeof out - olen < n + pk_lenoff)
		drain();
	std::size_t len = n + pk_lenoff;
	unsigned char *o = out + olen;
	*o++ = pk_start;
	*o++ = type;
	*o++ = static_cast<unsigned char>(len >> 8);
	*o++ = static_cast<unsigned char>(len & 0xFF);
	if (n > 0)
		std::memcpy(o, p, n);
	o += n;
	*o++ = seq++;
	olen = static_cast<std::size_t>(o - out);
}

// A whole number from 1 to pk_maxlen, and nothing else.
int parse_size(const char *s)
{
	int v = 0;
	if (*s == '\0')
		return -1;
	for (; *s; s++) {
		if (*s < '0' || *s > '9')
			return -1;
		v = v * 10 + (*s - '0');
		if (v > pk_maxlen)
			return -1;
	}
	return v >= 1 ? v : -1;
}

int info(const char *text)
{
	if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0)
		die("standard output", errno);
	return 0;
}

}  // namespace

int main(int argc, char **argv)
{
	static const option longs[] = {
		{"help", no_argument, nullptr, 'h'},
		{"version", no_argument, nullptr, 'V'},
		{nullptr, 0, nullptr, 0},
	};
	int size = pk_maxlen;
	opterr = 0;
	for (int c; (c = getopt_long(argc, argv, ":s:", longs, nullptr)) != -1;) {
		switch (c) {
		case 's':
			size = parse_size(optarg);
			if (size < 0)
				bad_usage("SIZE must be a whole number from 1 to 767");
			break;
		case 'h':
			return info(usage);
		case 'V':
			return info("framepack " FRAMECAP_VERSION "\n");
		case ':':
			bad_usage("-s needs a SIZE");
		default:
			bad_usage("unknown option");
		}
	}
	if (argc - optind > 1)
		bad_usage("only one FILE");

	const char *name = "standard input";
	int fd = 0;
	if (optind < argc && std::strcmp(argv[optind], "-") != 0) {
		name = argv[optind];
		fd = open(name, O_RDONLY | O_CLOEXEC);
		if (fd < 0)
			die(name, errno);
	}
	if (isatty(1)) {
		std::fprintf(stderr, "framepack: standard output is a terminal; redirect it to a file or a pipe\n");
		return 1;
	}

	emit(pk_header, nullptr, 0);

	// Whole packets of size bytes from whatever the reads return; the rest
	// waits for the next read, or goes out short at the end.
	static unsigned char in[1 << 16];
	std::size_t have = 0;
	for (;;) {
		ssize_t r = read(fd, in + have, sizeof in - have);
		if (r < 0 && errno == EINTR)
			continue;
		if (r < 0)
			die(name, errno);
		if (r == 0)
			break;
		have += static_cast<std::size_t>(r);
		std::size_t at = 0;
		for (; have - at >= static_cast<std::size_t>(size); at += size)
			emit(pk_data, in + at, size);
		std::memmove(in, in + at, have - at);
		have -= at;
	}
	if (have > 0)
		emit(pk_data, in, have);

	emit(pk_trailer, nullptr, 0);
	if (olen == sizeof out)
		drain();
	out[olen++] = 0;  // for receivers that act on a packet when the next byte comes
	drain();
	if (close(1) != 0)
		die("standard output", errno);
	return 0;
}
