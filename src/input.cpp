// input.cpp: standard input, handed out a byte at a time from blocks.
#include "packet.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

unsigned char data[blk];
std::int32_t size;
std::int32_t offset;

namespace {

// True when a read of standard input would have to wait. A regular file
// never makes us wait, and asking would cost a system call per block.
bool idle()
{
	static const bool file = [] {
		struct stat st;
		return fstat(0, &st) == 0 && S_ISREG(st.st_mode);
	}();
	pollfd p = {0, POLLIN, 0};
	return !file && poll(&p, 1, 0) == 0;
}

// Wait for standard input to have something to say, or for a signal that
// ends the run. Signals are held off between our look at the flag and the
// wait, so none can slip in there and leave us asleep.
void await()
{
	sigset_t all, old;
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &old);
	if (!caught) {
		fd_set in;
		FD_ZERO(&in);
		FD_SET(0, &in);
		pselect(1, &in, nullptr, nullptr, nullptr, &old);
	}
	sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

// Serve whatever a read returns: bytes are handed on as they arrive, not
// when a whole block has come.
void rd_fill()
{
	for (;;) {
		if (idle()) {
			flush();  // what came so far is in the file and the log
			await();
		}
		if (caught)
			end_by_signal();
		ssize_t n = read(0, data, blk);
		if (n > 0) {
			size = static_cast<std::int32_t>(n);
			offset = 0;
			return;
		}
		if (n == 0)
			quit();
		if (errno != EINTR && errno != EAGAIN) {
			warn("standard input", errno);
			quit();
		}
	}
}

void rd_seek(unsigned char b)
{
	for (;;) {
		if (offset >= size)
			rd_fill();
		const void *p = std::memchr(data + offset, b, static_cast<std::size_t>(size - offset));
		if (p) {
			offset = static_cast<std::int32_t>(static_cast<const unsigned char *>(p) - data) + 1;
			return;
		}
		offset = size;
	}
}

void rd_copy(unsigned char *dst, int n)
{
	while (n > 0) {
		if (offset >= size)
			rd_fill();
		int k = std::min(n, size - offset);
		std::memcpy(dst, data + offset, static_cast<std::size_t>(k));
		dst += k;
		offset += k;
		n -= k;
	}
}
